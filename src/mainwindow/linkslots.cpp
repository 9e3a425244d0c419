#include "mainwindow/linkslots.h"

#include "engine/indexedlist.h"
#include "files/querysettings.h"
#include "web/texthelpers.h"

#include <QLineEdit>
#include <QPushButton>

LinkSlots::LinkSlots(const Fields &fields, const Buttons &buttons)
    : m_fields(fields), m_buttons(buttons)
{
    // However a slot's address changes, its button follows.
    for (const LinkButton &link : m_buttons)
        QObject::connect(m_fields[size_t(link.address)], &QLineEdit::textChanged, link.button,
                         [this] { showButtons(); });
}

QString LinkSlots::value(LinkSlot slot) const
{
    return m_fields[size_t(slot)]->text();
}

void LinkSlots::setDefaults(const QString &host)
{
    QString defaults[kLinkSlotCount];
    defaults[int(LinkSlot::Version)] = QStringLiteral("bb1.0");
    // Column button 4 (Command3) takes its caption and address only from the start-up list.
    for (const LinkButton &link : m_buttons) {
        if (link.caption != LinkSlot::ColumnButton4Caption)
            defaults[int(link.caption)] = link.button->text();
    }
    const std::pair<LinkSlot, const char *> addresses[] = {
        {LinkSlot::RowButton1Address, "/soft/wdgj/index.htm"},
        {LinkSlot::RowButton2Address, "/soft/wwqf/index.htm"},
        {LinkSlot::RowButton3Address, "/soft/bbsj/index.htm"},
        {LinkSlot::RowButton4Address, "/soft/dpzx/index.htm"},
        {LinkSlot::ColumnButton1Address, "/soft/qvdl/jiaocheng.htm"},
        {LinkSlot::ColumnButton2Address, "/soft/qvdl/wenti.htm"},
        {LinkSlot::ColumnButton3Address, "/lianxi.htm"},
        {LinkSlot::HelpAddress, "/soft/qvdl/help.htm"},
        {LinkSlot::DownloadAddress, "/soft/qvdl/download.htm"},
    };
    for (const auto &[slot, path] : addresses)
        defaults[int(slot)] = siteAddress(host, path);
    for (int i = 0; i < kLinkSlotCount; ++i)
        m_fields[size_t(i)]->setText(defaults[i]);
    showButtons();
}

void LinkSlots::showButtons()
{
    for (size_t i = 0; i < m_buttons.size(); ++i) {
        QPushButton *button = m_buttons[i].button;
        // A button with nowhere to go is not offered; one without a caption still says which
        // it is to a screen reader.
        button->setEnabled(!isBlank(value(m_buttons[i].address)));
        button->setAccessibleName(
            isBlank(button->text()) ? QObject::tr("链接 %1（未设置）").arg(i + 1) : QString());
    }
}

bool LinkSlots::applyStartupList(const QString &list)
{
    if (!trimSpaces(list).contains(QLatin1String("Brelvon")))
        return false;
    // The raw text, so line breaks belong to the values. A pair whose index names no slot, or a
    // value without an index, is skipped.
    readIndexedList(list, kLinkSlotCount, [this](int index, const QString &value) {
        m_fields[size_t(index)]->setText(value);
    });
    for (const LinkButton &link : m_buttons)
        link.button->setText(value(link.caption));
    showButtons();
    return trimSpaces(value(LinkSlot::Version)) != QLatin1String("bb1.0");
}
