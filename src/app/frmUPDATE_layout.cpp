// The window's layout: positions and sizes in twips, relative to the
// container's inner area; initial captions, fonts, colours and states.
#include "app/frmUPDATE.h"
#include "resources/resource.h"

using platform::kColorActiveCaptionText;
using platform::kColorWindow;

void frmUPDATE::LayOut() {
    SetInnerSize(6840, 5085);
    SetCaption("Install Vantrel Live Update");

    picSteps0.Place(this, 0, 0, 6870, 4365, 4);
    picSteps0.backColor = kColorWindow;
    picSteps0.pictureResource = IDR_BANNER;

    lblUpdate0.Place(&picSteps0, 2580, 975, 4095, 195, 7);
    lblUpdate0.SetCaption("This will install Vantrel Liveupdate on your system");
    lblUpdate0.backColor = kColorWindow;
    lblUpdate0.autoSize = lblUpdate0.wordWrap = true;

    lblUpdate1.Place(&picSteps0, 2580, 1650, 4095, 195, 8);
    lblUpdate1.SetCaption("Close Vantrel before continuing");
    lblUpdate1.backColor = kColorWindow;
    lblUpdate1.autoSize = lblUpdate1.wordWrap = true;

    lblMainHead0.Place(&picSteps0, 2595, 195, 3945, 300, 6);
    lblMainHead0.SetCaption("Install Vantrel Liveupdate");
    lblMainHead0.font = {"MS Sans Serif", 12, 700, 0};
    lblMainHead0.backColor = kColorWindow;
    lblMainHead0.autoSize = lblMainHead0.wordWrap = true;

    lblMsgline.Place(&picSteps0, 2595, 4080, 690, 195, 5);
    lblMsgline.SetCaption("lblMsgline");
    lblMsgline.backColor = kColorActiveCaptionText;
    lblMsgline.autoSize = true;
    lblMsgline.wrapWidth = 6855 - 2595 - 120;  // to the window's right edge, less a margin

    Frame1.Place(this, 0, 4410, 6855, 675, 0);

    cmdInstall.Place(&Frame1, 4410, 240, 1125, 345, 3);
    cmdInstall.SetCaption("&Install");
    cmdInstall.SetEnabled(false);

    cmdCancel.Place(&Frame1, 5610, 240, 1125, 345, 2);
    cmdCancel.SetCaption("C&ancel");

    cmdHelp.Place(&Frame1, 150, 240, 1125, 345, 1);
    cmdHelp.SetCaption("&Help");
    cmdHelp.SetEnabled(false);
    cmdHelp.SetVisible(false);

    // Shown while installing, left of the buttons, where the hidden Help
    // button would stand.
    prgInstall.Place(&Frame1, 150, 285, 4095, 255, 10);
    prgInstall.SetVisible(false);

    Label1.Place(this, 6840, 0, 5610, 390, 9);
    Label1.SetCaption("This label used for DDE connection to the Program Manager");
    Label1.SetVisible(false);

    for (platform::Control* control : std::initializer_list<platform::Control*>{
             &picSteps0, &lblUpdate0, &lblUpdate1, &lblMainHead0, &lblMsgline, &Frame1, &cmdInstall, &cmdCancel,
             &cmdHelp, &Label1, &prgInstall})
        Register(*control);
}
