// UI control set geometry and state rules; see control_geometry.h.
#include "control_geometry.h"

namespace controls {

Point PlaceInParent(int x, int y, int width, int height, int parentWidth, int parentHeight, bool relativeY) {
    Point at{x, y};
    if (x < 0) at.x = x + parentWidth - width;
    if (relativeY && y < 0) at.y = y + parentHeight - height;
    return at;
}

SwitchImageLayout LayoutSwitchImageButton(const SwitchImageLayoutInput& in) {
    SwitchImageLayout out;
    out.image.y = in.marginY;
    out.caption = in.previousCaption;
    int contentWidth = in.imageWidth;
    int contentHeight = in.imageHeight;
    if (in.mode == 1) {
        contentWidth = in.imageWidth > in.captionWidth ? in.imageWidth : in.captionWidth;
        if (in.imageWidth < in.captionWidth) {
            out.caption.x = in.marginX;
            out.image.x = in.marginX + (in.captionWidth - in.imageWidth) / 2;
        } else {
            out.image.x = in.marginX;
            out.caption.x = in.marginX + (in.imageWidth - in.captionWidth) / 2;
        }
        out.caption.y = in.gap + in.marginY + in.imageHeight;
        contentHeight = in.gap + in.imageHeight + in.captionHeight;
    } else if (in.mode == 2) {
        out.image.x = in.marginX;
        out.caption.x = in.marginX + in.gap + in.imageWidth;
        if (in.imageHeight >= in.captionHeight) {
            out.caption.y = in.marginY + (in.imageHeight - in.captionHeight) / 2;
            contentHeight = in.imageHeight;
        } else {
            out.caption.y = in.marginY;
            contentHeight = in.captionHeight;
        }
        contentWidth = in.gap + in.captionWidth + in.imageWidth;
    } else {
        out.image.x = in.marginX;
    }
    out.preferredWidth = contentWidth + 2 * in.marginX;
    out.preferredHeight = contentHeight + 2 * in.marginY;
    if (in.dropDownWidth > 0 || in.dropDownHeight > 0) {
        out.hasDropDown = true;
        out.dropDownLeft = out.preferredWidth - in.dropDownWidth - 4;
        out.dropDownTop = 2;
        out.dropDownRight = out.dropDownLeft + in.dropDownWidth;
        out.dropDownBottom = 2 + in.dropDownHeight;
    }
    return out;
}

int SwitchStateOnHover(int state, bool switchMode) {
    if (switchMode && state == kStatePressed) return state;
    return kStateHover;
}

int SwitchStateOnLeave(int state, bool switchMode, bool keepDisabledInSwitchMode) {
    if (!switchMode) return state == kStateDisabled ? state : kStateNormal;
    if (state == kStatePressed) return state;
    if (keepDisabledInSwitchMode && state == kStateDisabled) return state;
    return kStateNormal;
}

}  // namespace controls
