#pragma once

#include <QRect>

// Where a person finds the controls: the designed places, in pixels from the top-left corner of
// each window's client area (the dialog's twips divided by 15).
namespace corvalin::e2e::places {

// The main window, below its menu bar.
constexpr QRect Drive1(8, 24, 169, 20);
constexpr QRect File3(184, 160, 169, 126);
constexpr QRect ButtonSlot(256, 368, 97, 33); // Command1 to Command4

// The options dialog: the maker frame lies at 24, 32 and the option frame at 22, 256.
constexpr QRect OptionsText1(32, 200, 305, 18);
constexpr QRect OptionsText2(344, 64, 73, 18);
constexpr QRect OptionsCheck1(30, 272, 249, 17);
constexpr QRect OptionsCheck3(30, 304, 457, 17);
constexpr QRect OptionsCheck4(30, 320, 465, 17);
constexpr QRect OptionsOK(288, 376, 73, 25);
constexpr QRect OptionsApply(448, 376, 73, 25);
constexpr QPoint OptionsEmptySpot(6, 396); // below the tab strip, left of the buttons

// The help window and the version window.
constexpr QRect HelpBack(408, 440, 129, 25);
constexpr QRect AboutOK(283, 175, 92, 23);

} // namespace corvalin::e2e::places
