#pragma once

#include <QString>

class QLabel;

// Writes the subtitle over the banner's picture, right of the program's name, in the interface
// language; the label is made on first use and kept as a child of the banner.
void ShowBannerSubtitle(QLabel *banner, const QString &text);
