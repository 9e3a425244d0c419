#pragma once

#include "skin/skinstore.h"

#include <QColor>

#include <memory>

class SkinPicture;

// The load procedure of the frame controls: load the skin from the control's Path, then apply
// each key the control needs, in the control's own order. An absent key is skipped and its
// target keeps the value it had; nothing is ever reported.
//
//     SkinPicture top, mid;                    // fresh, empty pictures
//     SkinLoad(m_skinFile).picture("LEFTTOP", top).picture("LEFTMID", mid);
//
//     SkinLoad load(m_skinFile);
//     load.picture("TOPLEFT", m_topLeft).number("XOFFSET", m_xOffset)
//         .colour("FORECOLOR", m_surfaceFore);
//     m_skin = load.store();                   // kept for later look-ups by mouse handlers
class SkinLoad
{
public:
    // Loads through the skin cache: cheap when the file is unchanged since the last load.
    explicit SkinLoad(const QString &path);

    // Picture key: hands the picture to target.load when present.
    SkinLoad &picture(const char *key, SkinPicture &target);
    // Number key: assigns the 16-bit value when present.
    SkinLoad &number(const char *key, qint16 &target);
    // Colour key: assigns the OLE value (0x00BBGGRR), or the colour, when present.
    SkinLoad &colour(const char *key, quint32 &target);
    SkinLoad &colour(const char *key, QColor &target);

    const std::shared_ptr<const SkinStore> &store() const { return m_store; }

private:
    std::shared_ptr<const SkinStore> m_store;
};
