// Every page rule on a page, with a configuration: the input is the configuration (an indexed
// list), the page, the buyer id and the area table, separated by NUL bytes, all in GBK.
#include "engine/pagerules.h"
#include "engine/queryconfig.h"
#include "fuzzinput.h"
#include "web/codepage936.h"
#include "web/fetchpage.h"
#include "web/texthelpers.h"

FUZZ_APPLICATION

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> parts = fuzzParts(fuzzBytes(data, size), 4);
    QueryConfig config;
    config.readIndexedList(decode936(parts[0]));
    const QString page = decode936(parts[1]);
    const QString buyerId = decode936(parts[2]);
    const QString areaTable = decode936(parts[3]);

    const SearchPageResult search = searchPageRule(page, buyerId, config);
    FUZZ_CHECK(search.detailAddress.size() <= kMaxAddressLength);
    FUZZ_CHECK(search.userNumber.size() <= kMaxAddressLength);
    FUZZ_CHECK(search.userNumber.isEmpty() || page.contains(search.userNumber));

    for (DetailSource source : {DetailSource::Fetched, DetailSource::Browser}) {
        const DetailPageResult detail = detailPageRule(page, source, config);
        FUZZ_CHECK(detail.verification == QStringLiteral("支付宝认证") ||
                   detail.verification == QStringLiteral("手机认证") ||
                   detail.verification == QStringLiteral("没有认证"));
        for (int entry : {37, 39}) {
            const QString address =
                fillAddress(config.entry(entry), QLatin1String("{urlno}"), detail.ratingListNumber);
            FUZZ_CHECK(address.size() <= kMaxAddressLength);
        }
    }

    for (const QString &marker : {config.entry(38), kBadRatingsGivenMarker}) {
        bool ok = false;
        const qint64 count = ratingsGivenCount(page, marker).toLongLong(&ok);
        FUZZ_CHECK(ok && count >= 0 && count <= page.size());
    }

    const NameCardResult card = nameCardRule(page);
    FUZZ_CHECK(!card.regTime.contains(u'\n') && !card.address.contains(u'"'));
    const PersonalPageResult personal = personalPageRule(page, config, areaTable);
    FUZZ_CHECK(personal.areaName.size() <= 2 * kMaxAreaNameLength);
    const QString rate = popupNameCardRule(page);
    FUZZ_CHECK(rate.isEmpty() || isNumeric(rate));
    return 0;
}
