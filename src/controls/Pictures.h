// The program's pictures: the application icon, the tray animation frames,
// the 16x16 menu pictures and the 32x32 button images. They are SVG drawings
// compiled into the program (resources/harvix.qrc) and scale to any size.
#pragma once

#include <QIcon>
#include <QString>
#include <string>

namespace harvix {

// Picture ids. The tray and the menus name their pictures by these numbers.
enum PictureId : int {
    kPictureAppIcon = 128,
    kPictureMenuExit = 132,
    kPictureMenuAbout = 133,
    kPictureMenuOptions = 134,
    kPictureMenuFilters = 136,
    kPictureTrayFrame0 = 184,  // five animation frames, 184 to 188
    kPictureTrayFrame4 = 188,
    kPictureMenuVisit = 190,
    kPictureMenuLastVersion = 191,
    kPictureMenuHelp = 192,
    kPictureMenuAdd = 193,
    kPictureMenuDelete = 194,
    kPictureMenuEdit = 195,
    kPictureMenuCheckAll = 196,
    kPictureMenuUncheckAll = 197,
    kPictureMenuOpenFolder = 198,
    kPictureMenuUp = 199,
    kPictureMenuDown = 200,
};

// The images of the main window's twelve image buttons.
enum class ButtonImage {
    New,
    Open,
    Save,
    SaveAs,
    Add,
    Delete,
    Edit,
    Up,
    Down,
    Options,
    Help,
    CombIE,
    CombMozilla,
};

// Resource path of a picture (":/icons/..."); empty when no picture has `id`.
QString picturePath(int id);
// The picture as an icon; a null icon when no picture has `id`.
QIcon pictureIcon(int id);
// Resource path and icon of a button image, plain or for the hovered button.
QString buttonImagePath(ButtonImage image, bool hover);
QIcon buttonImageIcon(ButtonImage image, bool hover);
// A picture by its resource name ("button-comb-mozilla"); a null icon when
// there is none.
QIcon namedPictureIcon(const std::string& name);

}  // namespace harvix
