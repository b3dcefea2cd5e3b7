#include "edidtextwriter.h"

#include <cstdio>

std::string edidText(const std::vector<uint8_t> &bytes, const std::string &title)
{
    std::string text = "EDID " + title + ", " + std::to_string(bytes.size()) + " bytes\n";
    text += "Written by lumexor-make-packages\n";
    text += "     | 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n";
    char cell[24];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i % 16 == 0) {
            std::snprintf(cell, sizeof cell, "%04zX |", i);
            text += cell;
        }
        std::snprintf(cell, sizeof cell, " %02X", unsigned(bytes[i]));
        text += cell;
        if (i % 16 == 15 || i + 1 == bytes.size())
            text += '\n';
    }
    return text;
}
