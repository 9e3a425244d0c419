#include "engine/pagefetch.h"

#include "web/texthelpers.h"

QString hostAddress(const QString &host, const QString &path)
{
    if (isBlank(host))
        return {};
    return QLatin1String("http://") + host + path;
}

QString fetchInto(PageResults &log, const QString &name, const QString &address, FetchWait mode,
                  const FetchContext &context)
{
    if (isBlank(address))
        return {};
    if (context.pageStarted && *context.pageStarted)
        (*context.pageStarted)(name);
    PageResult page = fetchNamedPage(name, address, mode, context);
    QString text = page.text;
    page.text.clear(); // the notes keep what happened, not the pages
    log.append(std::move(page));
    return text;
}
