// A desktop notification's text from outside texts (an id, a reason, a file's name: UTF-8 parts
// separated by NUL bytes): bounded, and no sender's markup or control character in the body the
// notification service renders.
#include "fuzzinput.h"
#include "lookup/batchfindings.h"
#include "watch/notifier.h"
#include "watch/orderwatcher.h"

FUZZ_APPLICATION

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> parts = fuzzParts(fuzzBytes(data, size), 3);
    const QString id = QString::fromUtf8(parts[0]);
    const QString reason = QString::fromUtf8(parts[1]);
    CheckedFile file;
    file.buyers = 3;
    const QString summary = file.summary(Notifier::shortName(QString::fromUtf8(parts[2])));
    FUZZ_CHECK(summary.contains(QLatin1String(" 3 ")) ||
               summary.contains(QLatin1String("共 3 个")));
    for (const QString &plain : {highRiskNotice(id, {reason, reason}), summary}) {
        FUZZ_CHECK(plain.size() <= 3 * Notifier::kTextChars);
        const QString body = Notifier::bodyMarkup(plain + plain + plain + plain + plain + plain);
        FUZZ_CHECK(!body.contains(u'<') && !body.contains(u'>') && !body.contains(u'"'));
        for (QChar c : body)
            FUZZ_CHECK(c == u'\n' || c.category() != QChar::Other_Control);
        // Every & starts one of the entities the escaping writes.
        for (qsizetype at = body.indexOf(u'&'); at >= 0; at = body.indexOf(u'&', at + 1)) {
            const QStringView rest = QStringView(body).mid(at);
            FUZZ_CHECK(rest.startsWith(u"&amp;") || rest.startsWith(u"&lt;") ||
                       rest.startsWith(u"&gt;") || rest.startsWith(u"&quot;") ||
                       rest.startsWith(u"&#39;"));
        }
        FUZZ_CHECK(body.size() <= 6 * Notifier::kBodyChars);
    }
    return 0;
}
