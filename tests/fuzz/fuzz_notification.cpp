// A desktop notification's text from outside texts (an id, a reason, a file's name: UTF-8 parts
// separated by NUL bytes): bounded, and no sender's markup or control character in the body the
// notification service renders.
#include "fuzzinput.h"
#include "model/notificationtext.h"

FUZZ_APPLICATION

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> parts = fuzzParts(fuzzBytes(data, size), 3);
    const QString id = cutToGlance(QString::fromUtf8(parts[0]), 64);
    const QString reason = cutToGlance(QString::fromUtf8(parts[1]), 200);
    const QString name = cutToGlance(QString::fromUtf8(parts[2]), 64);
    FUZZ_CHECK(id.size() <= 64 && reason.size() <= 200 && name.size() <= 64);
    const QString plain =
        QStringLiteral("高风险：%1（%2；%2）\n订单文件 %3 已检查").arg(id, reason, name);
    const QString body = notificationMarkup(plain + plain + plain + plain + plain + plain, 1000);
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
    FUZZ_CHECK(body.size() <= 6 * 1000);
    return 0;
}
