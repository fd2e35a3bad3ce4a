// The UI control set's window-free rules: placement in the parent, the image-switch layout, the switch
// buttons' hover and leave states, the subject/observer channel and the alert's link markup.
#include <gtest/gtest.h>

#include <vector>

#include "VNLObserver.h"
#include "VNLSubject.h"
#include "control_geometry.h"
#include "link_runs.h"

TEST(ControlPlacement, NegativeCoordinatesCountFromTheFarEdges) {
    struct Case {
        int x, y;
        bool relativeY;
        int expectedX, expectedY;
    };
    // A 16 x 16 button in a 400 x 120 client area.
    const Case cases[] = {
        {-8, 4, true, 376, 4},  // the close button: 8 from the right, 4 from the top
        {10, -10, true, 10, 94},
        {10, -10, false, 10, -10},
        {0, 0, true, 0, 0},
    };
    for (const Case& c : cases) {
        const controls::Point at = controls::PlaceInParent(c.x, c.y, 16, 16, 400, 120, c.relativeY);
        EXPECT_EQ(at.x, c.expectedX) << c.x << "," << c.y;
        EXPECT_EQ(at.y, c.expectedY) << c.x << "," << c.y;
    }
}

TEST(SwitchImageLayout, ModesPlaceImageAndCaption) {
    struct Case {
        const char* what;
        int mode, imageW, imageH, captionW, captionH, dropW, dropH;
        int imageX, imageY, captionX, captionY, width, height;
    };
    const Case cases[] = {
        {"above, caption wider", 1, 24, 24, 60, 16, 0, 0, 28, 10, 10, 38, 80, 64},
        {"above, image wider", 1, 40, 24, 20, 16, 0, 0, 10, 10, 20, 38, 60, 64},
        {"left, image taller", 2, 24, 24, 60, 16, 0, 0, 10, 10, 38, 14, 108, 44},
        {"left, caption taller", 2, 16, 12, 60, 20, 0, 0, 10, 10, 30, 10, 100, 40},
        {"image only", 0, 24, 24, 60, 16, 0, 0, 10, 10, 0, 0, 44, 44},
    };
    for (const Case& c : cases) {
        controls::SwitchImageLayoutInput in;
        in.mode = c.mode;
        in.imageWidth = c.imageW;
        in.imageHeight = c.imageH;
        in.captionWidth = c.captionW;
        in.captionHeight = c.captionH;
        const controls::SwitchImageLayout out = controls::LayoutSwitchImageButton(in);
        EXPECT_EQ(out.image.x, c.imageX) << c.what;
        EXPECT_EQ(out.image.y, c.imageY) << c.what;
        EXPECT_EQ(out.caption.x, c.captionX) << c.what;
        EXPECT_EQ(out.caption.y, c.captionY) << c.what;
        EXPECT_EQ(out.preferredWidth, c.width) << c.what;
        EXPECT_EQ(out.preferredHeight, c.height) << c.what;
        EXPECT_FALSE(out.hasDropDown) << c.what;
        // Laying out again from the result gives the same positions.
        in.previousCaption = out.caption;
        const controls::SwitchImageLayout again = controls::LayoutSwitchImageButton(in);
        EXPECT_EQ(again.caption.x, out.caption.x) << c.what;
        EXPECT_EQ(again.image.x, out.image.x) << c.what;
    }
}

TEST(SwitchImageLayout, DropDownMarkerSitsAtTheRightEdge) {
    controls::SwitchImageLayoutInput in;
    in.mode = 2;
    in.imageWidth = 24;
    in.imageHeight = 24;
    in.captionWidth = 60;
    in.captionHeight = 16;
    in.dropDownWidth = 8;
    in.dropDownHeight = 6;
    const controls::SwitchImageLayout out = controls::LayoutSwitchImageButton(in);
    ASSERT_TRUE(out.hasDropDown);
    EXPECT_EQ(out.dropDownLeft, 108 - 8 - 4);
    EXPECT_EQ(out.dropDownTop, 2);
    EXPECT_EQ(out.dropDownRight, 104);
    EXPECT_EQ(out.dropDownBottom, 8);
}

TEST(SwitchStates, HoverAndLeave) {
    using namespace controls;
    struct Case {
        int state;
        bool switchMode;
        bool keepDisabled;  // the image switch's rule
        int afterHover;
        int afterLeave;
    };
    const Case cases[] = {
        {kStateNormal, true, false, kStateHover, kStateNormal},
        {kStatePressed, true, false, kStatePressed, kStatePressed},  // a selected switch stays selected
        {kStatePressed, false, false, kStateHover, kStateNormal},
        {kStateDisabled, false, false, kStateHover, kStateDisabled},
        {kStateDisabled, true, false, kStateHover, kStateNormal},
        {kStateDisabled, true, true, kStateHover, kStateDisabled},
        {kStateHover, true, true, kStateHover, kStateNormal},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SwitchStateOnHover(c.state, c.switchMode), c.afterHover) << c.state << c.switchMode;
        EXPECT_EQ(SwitchStateOnLeave(c.state, c.switchMode, c.keepDisabled), c.afterLeave)
            << c.state << c.switchMode << c.keepDisabled;
    }
}

namespace {

class RecordingObserver : public VNLObserver {
public:
    RecordingObserver(std::vector<int>& log, int id) : m_log(log), m_id(id) {}
    void Update(void* data, int code) override { m_log.push_back(m_id * 100 + code + (data ? 10 : 0)); }

private:
    std::vector<int>& m_log;
    int m_id;
};

}  // namespace

TEST(SubjectObserver, NotifiesInInsertionOrderOncePerAttachment) {
    std::vector<int> log;
    RecordingObserver first(log, 1), second(log, 2);
    {
        VNLSubject subject;
        subject.NotifyObservers(nullptr, 5);  // empty: nothing happens
        EXPECT_TRUE(log.empty());
        subject.AttachObserver(&first);
        subject.AttachObserver(&second);
        int data = 0;
        subject.NotifyObservers(&data, 1);
        EXPECT_EQ(log, (std::vector<int>{111, 211}));
        subject.DetachObserver(&first);
        subject.NotifyObservers(nullptr, 0);
        EXPECT_EQ(log, (std::vector<int>{111, 211, 200}));
        subject.AttachObserver(&first);
    }
    // The subject is gone; its observers are not.
    first.Update(nullptr, 7);
    EXPECT_EQ(log.back(), 107);
}

TEST(LinkRuns, MarkupBecomesItsLabels) {
    struct Case {
        const wchar_t* text;
        bool links;
        const wchar_t* plain;
    };
    const Case cases[] = {
        {L"Nothing is checked.", false, L"Nothing is checked."},
        {L"See <A HREF=\"http://127.0.0.1/help\">help</A> now", true, L"See help now"},
        {L"<A HREF=\"\">whole line</A>", true, L"whole line"},
        {L"<A HREF=\"a\">one</A> and <A HREF=\"b\">two</A>", true, L"one and two"},
        {L"<a href=\"x\">lower case</a>", false, L"<a href=\"x\">lower case</a>"},
        {L"<A HREF=\"x\">unclosed", false, L"<A HREF=\"x\">unclosed"},
    };
    for (const Case& c : cases) {
        std::wstring plain;
        EXPECT_EQ(trv::SplitLinkRuns(plain, c.text), c.links);
        EXPECT_EQ(plain, c.plain);
    }
}

TEST(LinkRuns, LinesBreakAtBlanksKeepingWordsAndTheirPunctuationWhole) {
    // Ten pixels a character: a line holds 20 characters.
    const auto measure = [](const std::wstring& run) { return static_cast<int32_t>(run.size() * 10); };
    struct Case {
        const wchar_t* text;
        const wchar_t* wrapped;
    };
    const Case cases[] = {
        {L"must be removed before continuing.", L"must be removed\nbefore continuing."},
        {L"restart the program.\n\n(If needed", L"restart the program.\n\n(If needed"},
        {L"an extraordinarily-long-word here", L"an\nextraordinarily-long-word\nhere"},
        // The label counts, the tags do not; a blank before a link breaks outside it.
        {L"please reinstall the <A HREF=\"http://x/itunes\">iTunes</A> from Apple.",
         L"please reinstall the\n<A HREF=\"http://x/itunes\">iTunes</A> from Apple."},
        {L" leading blank and more words", L" leading blank and\nmore words"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(trv::WrapAtBlanks(c.text, 200, measure), c.wrapped) << std::wstring(c.text).size();
    }
}
