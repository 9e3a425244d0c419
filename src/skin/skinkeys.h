#pragma once

#include <QString>
#include <QStringView>

#include <array>

// What a skin key holds. Absent is the answer for a key the skin does not have (or that no
// skin can have).
enum class SkinKind { Absent, Picture, Number, Colour };

struct SkinKey
{
    const char *name;
    SkinKind kind;
};

// Every key a skin can hold, spelled exactly as looked up (case matters: "BackColor" is the
// only mixed-case one). Border pieces first, then the caption's pictures, numbers and colours.
inline constexpr std::array<SkinKey, 33> kSkinKeys = {{
    {"LEFTTOP", SkinKind::Picture},        {"LEFTMID", SkinKind::Picture},
    {"RIGHTTOP", SkinKind::Picture},       {"RIGHTMID", SkinKind::Picture},
    {"LEFTBOT", SkinKind::Picture},        {"RIGHTBOT", SkinKind::Picture},
    {"BOTTOM", SkinKind::Picture},         {"TOPLEFT", SkinKind::Picture},
    {"TOPMID", SkinKind::Picture},         {"TOPRIGHT", SkinKind::Picture},
    {"CLOSE", SkinKind::Picture},          {"CLOSE3", SkinKind::Picture},
    {"CLOSE2", SkinKind::Picture},         {"MAX", SkinKind::Picture},
    {"MAX3", SkinKind::Picture},           {"MAX2", SkinKind::Picture},
    {"RES1", SkinKind::Picture},           {"RES2", SkinKind::Picture},
    {"RES3", SkinKind::Picture},           {"MIN", SkinKind::Picture},
    {"MIN3", SkinKind::Picture},           {"MIN2", SkinKind::Picture},
    {"ONTOP1", SkinKind::Picture},         {"ONTOP3", SkinKind::Picture},
    {"XOFFSET", SkinKind::Number},         {"XOFFSET2", SkinKind::Number},
    {"YOFFSET", SkinKind::Number},         {"FROMRIGHT", SkinKind::Number},
    {"FROMTOP", SkinKind::Number},         {"ICONSPACE", SkinKind::Number},
    {"FORECOLOR", SkinKind::Colour},       {"BackColor", SkinKind::Colour},
    {"PARENTBACKCOLOR", SkinKind::Colour},
}};

// The kind a key must have in a skin, or Absent when the key is not one of the 33.
SkinKind skinKeyKind(QStringView key);

// "picture", "number", "colour" or "absent".
QString skinKindName(SkinKind kind);

// The skin.ini section that holds keys of this kind ("numbers" or "colours"; empty otherwise).
QString skinIniSection(SkinKind kind);

// Bounds against hostile skin files: larger entries and pictures read as absent.
inline constexpr qint64 kSkinMaxEntryBytes = 16 * 1024 * 1024;
inline constexpr int kSkinMaxPictureSide = 4096;
inline constexpr qint64 kSkinMaxIniBytes = 64 * 1024;
// All pictures of a skin together: about 250 times the default skin's 8,646 pixels (8 MiB
// decoded), so a skin of big pictures still fits while one of giant ones cannot fill memory.
inline constexpr qint64 kSkinMaxTotalPixels = 2 * 1024 * 1024;
