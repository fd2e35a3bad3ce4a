#pragma once
// Geometry and state rules of the UI control set that do not need a window: where a control lands for a
// requested position (negative coordinates count from the parent's far edges), the image-and-caption
// layout of VNLSwitchImageButton, and the visual-state changes of the switch buttons on hover and leave.
// Pure functions, tested natively; the controls apply them on the UI thread.

namespace controls {

// Visual states shared by the buttons.
enum ButtonState : int { kStateNormal = 0, kStatePressed = 1, kStateHover = 2, kStateDisabled = 3 };

struct Point {
    int x = 0;
    int y = 0;
};

// The top-left corner for a control of `width` x `height` asked at (x, y) in a parent client area of
// `parentWidth` x `parentHeight`: a negative x counts from the right edge (x + parent width - width), a
// negative y from the bottom edge. With `relativeY` false, y is always taken as given.
Point PlaceInParent(int x, int y, int width, int height, int parentWidth, int parentHeight, bool relativeY = true);

// Layout of an image-and-caption button (VNLSwitchImageButton::SetText).
struct SwitchImageLayoutInput {
    int mode = 0;  // 1 image above caption, 2 image left of caption, others: image only
    int imageWidth = 0;
    int imageHeight = 0;
    int captionWidth = 0;
    int captionHeight = 0;
    int gap = 4;
    int marginX = 10;
    int marginY = 10;
    int dropDownWidth = 0;  // 0: no drop-down image
    int dropDownHeight = 0;
    Point previousCaption;  // kept by modes other than 1 and 2
};

struct SwitchImageLayout {
    Point image;
    Point caption;
    int preferredWidth = 0;
    int preferredHeight = 0;
    int dropDownLeft = 0, dropDownTop = 0, dropDownRight = 0, dropDownBottom = 0;
    bool hasDropDown = false;
};

SwitchImageLayout LayoutSwitchImageButton(const SwitchImageLayoutInput& in);

// The state after the mouse rests on a switch button; `switchMode` keeps a selected button selected.
int SwitchStateOnHover(int state, bool switchMode);
// The state after the mouse leaves. `keepDisabledInSwitchMode` is the image switch's extra rule.
int SwitchStateOnLeave(int state, bool switchMode, bool keepDisabledInSwitchMode);

}  // namespace controls
