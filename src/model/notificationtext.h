#pragma once

#include <QString>

// An outside text cut to a glance: at most `chars` characters, the last of them "…" when it was
// cut (never half a surrogate pair).
QString cutToGlance(const QString &text, int chars);

// A plain text as a desktop notification's body markup takes it: cut to `chars`, control
// characters other than line feeds dropped, & < > " ' as entities, so no sender's text becomes a
// link, a picture or formatting.
QString notificationMarkup(const QString &plain, int chars);
