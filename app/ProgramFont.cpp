#include "app/ProgramFont.h"

QFont programFont(int pixels, bool bold, bool italic)
{
    QFont font(QStringLiteral("Verdana"));
    font.setStyleHint(QFont::SansSerif);  // the fallback when Verdana is missing
    font.setPixelSize(pixels);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}
