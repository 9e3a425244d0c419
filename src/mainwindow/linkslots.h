#pragma once

#include <QString>

#include <array>

class QLineEdit;
class QPushButton;
struct QuerySettings;

// The main window's 22 link slots (the hidden fields Text4_0 to Text4_21): the version text, the
// captions and addresses of the eight link buttons, the help and download addresses. The start-up
// list downloaded from our web site may rewrite any of them. Slots 19 to 21 are never read.
enum class LinkSlot : int {
    Version = 0,
    RowButton1Caption = 1, // Command9
    RowButton1Address = 2,
    RowButton2Caption = 3, // Command10
    RowButton2Address = 4,
    RowButton3Caption = 5, // Command11
    RowButton3Address = 6,
    RowButton4Caption = 7, // Command12
    RowButton4Address = 8,
    ColumnButton1Caption = 9, // Command4
    ColumnButton1Address = 10,
    ColumnButton2Caption = 11, // Command6
    ColumnButton2Address = 12,
    ColumnButton3Caption = 13, // Command5
    ColumnButton3Address = 14,
    HelpAddress = 15,          // the help link "帮助" (Label10)
    DownloadAddress = 16,      // shown and opened by a click on the update notice
    ColumnButton4Caption = 17, // Command3
    ColumnButton4Address = 18,
};

constexpr int kLinkSlotCount = 22;

// A link button and the slots of its caption and address.
struct LinkButton
{
    QPushButton *button = nullptr;
    LinkSlot caption;
    LinkSlot address;
};

// The link slots and what writes them: their defaults and the start-up list. The slots live in
// their hidden fields, where the window's parts (and tests) find them by name.
class LinkSlots
{
public:
    using Fields = std::array<QLineEdit *, kLinkSlotCount>;
    using Buttons = std::array<LinkButton, 8>;

    LinkSlots(const Fields &fields, const Buttons &buttons);

    QString value(LinkSlot slot) const;

    // The defaults: the version text "bb1.0", the buttons' own captions, the addresses of our
    // web site on mainHost (none without a host).
    void setDefaults(const QString &mainHost);

    // Reads a downloaded start-up list into the slots and the buttons' captions, if it is ours
    // (it names the product). True when the update notice is due: the version text then differs
    // from "bb1.0".
    bool applyStartupList(const QString &list);

private:
    // Each button enabled only with an address, named "链接 N（未设置）" without a caption.
    void showButtons();

    Fields m_fields;
    Buttons m_buttons;
};
