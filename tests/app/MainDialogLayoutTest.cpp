// The main dialog as built from its template: controls, texts, positions, tab order, size,
// caption and icon, and that every text fits its control.
#include "app/CPellucorDlg.h"
#include "gui/Widgets.h"
#include "tests/common/TestUtil.h"
#include "tests/gui/GuiTestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontMetrics>
#include <QIcon>
#include <QImage>
#include <QPushButton>
#include <QStyle>
#include <QTest>

#include <cstdlib>

#include <gtest/gtest.h>

namespace {

using namespace guitest;

struct ExpectedControl
{
    int id;
    const char* kind;
    QString text;
    int x, y, cx, cy;
};

const ExpectedControl expected[] = {
    {1004, "button", "Save and close", 128, 231, 70, 14},
    {1000, "browse", "", 11, 17, 187, 14},
    {1003, "list", "", 11, 57, 187, 135},
    {-1, "static", "If you add/remove trucks from this list, please keep one truck (def name) per line.", 11, 194, 187, 18},
    {1001, "check", "Change extension to .scs", 11, 233, 97, 10},
    {-1, "group", "Step 1: Select  open definition archive", 7, 7, 197, 31},
    {-1, "group", "Step 2: Configure which truck(s) can use these engines", 7, 46, 197, 169},
    {-1, "group", "Step 3: Save", 7, 222, 197, 28},
    {1006, "link", "Help", 178, 253, 26, 18},
    {1005, "link", "Made by Vantrel - vantrel.example.com", 7, 253, 168, 18},
};

const char* KindOf(QWidget* w)
{
    if (dynamic_cast<gui::BrowseEdit*>(w))
        return "browse";
    if (dynamic_cast<gui::MultiLineEdit*>(w))
        return "list";
    if (dynamic_cast<QPushButton*>(w))
        return "button";
    if (dynamic_cast<QCheckBox*>(w))
        return "check";
    if (dynamic_cast<gui::GroupFrame*>(w))
        return "group";
    if (dynamic_cast<gui::LinkLabel*>(w))
        return "link";
    if (dynamic_cast<QLabel*>(w))
        return "static";
    return "other";
}

QString ShownText(QWidget* w)
{
    if (auto* link = dynamic_cast<gui::LinkLabel*>(w))
        return link->visibleText();
    return gui::WidgetText(w);
}

// The dialog's child controls from the top of the stack down, which is template order.
std::vector<QWidget*> ControlsInTemplateOrder(QWidget* window)
{
    std::vector<QWidget*> controls;
    const QObjectList children = window->children(); // bottom of the stack first
    for (auto it = children.rbegin(); it != children.rend(); ++it)
        if (auto* w = qobject_cast<QWidget*>(*it); w && w->property("dlgCtrlId").isValid())
            controls.push_back(w);
    return controls;
}

// Whether the whole text is drawn inside the control, with the room the style needs around it.
void ExpectTextFits(QWidget* w, const QString& text)
{
    const QFontMetrics fm(w->font());
    QStyle* style = w->style();
    const QRect r = w->geometry();
    SCOPED_TRACE(text.toStdString());
    if (dynamic_cast<QPushButton*>(w))
    {
        EXPECT_LE(fm.horizontalAdvance(text) + 2 * style->pixelMetric(QStyle::PM_ButtonMargin), r.width());
        EXPECT_LE(fm.height(), r.height());
    }
    else if (dynamic_cast<QCheckBox*>(w))
    {
        const int indicator = style->pixelMetric(QStyle::PM_IndicatorWidth) +
                              style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
        EXPECT_LE(indicator + fm.horizontalAdvance(text), r.width());
        EXPECT_LE(fm.height(), r.height());
    }
    else if (auto* group = dynamic_cast<gui::GroupFrame*>(w))
    {
        const QRect caption = group->captionRect();
        EXPECT_LE(fm.horizontalAdvance(text), caption.width());
        EXPECT_GE(caption.left(), 0);
        EXPECT_LE(caption.right(), r.width());
    }
    else if (dynamic_cast<gui::LinkLabel*>(w))
    {
        EXPECT_LE(fm.horizontalAdvance(text), r.width());
        EXPECT_LE(fm.height(), r.height());
    }
    else if (dynamic_cast<QLabel*>(w))
    {
        const QRect needed = fm.boundingRect(QRect(0, 0, r.width(), 10000), Qt::TextWordWrap | Qt::AlignLeft, text);
        EXPECT_LE(needed.width(), r.width());
        EXPECT_LE(needed.height(), r.height());
    }
}

TEST(MainDialogLayout, ControlsFollowTheTemplate)
{
    EnsureApplication();
    CPellucorDlg dlg;
    RunModal(dlg, [&](QWidget* window) {
        const auto controls = ControlsInTemplateOrder(window);
        ASSERT_EQ(controls.size(), std::size(expected));
        for (size_t i = 0; i < controls.size(); ++i)
        {
            QWidget* w = controls[i];
            const ExpectedControl& e = expected[i];
            SCOPED_TRACE("control " + std::to_string(i));
            EXPECT_EQ(w->property("dlgCtrlId").toInt(), e.id);
            EXPECT_STREQ(KindOf(w), e.kind);
            EXPECT_EQ(ShownText(w), e.text);
            // Each value scales on its own: x * cx / 4 and y * cy / 8, rounded.
            const CSize units = dlg.GetBaseUnits();
            const int left = MulDiv(e.x, units.cx, 4);
            const int top = MulDiv(e.y, units.cy, 8);
            const CRect rect{left, top, left + MulDiv(e.cx, units.cx, 4), top + MulDiv(e.cy, units.cy, 8)};
            const QRect placed = w->geometry();
            if (std::string(e.kind) == "link")
            {
                // Links take the size their text needs inside their template rectangle, at its
                // bottom; the help link at its right end, the notice link at its left.
                EXPECT_EQ(placed.bottom() + 1, rect.bottom);
                EXPECT_LE(placed.height(), rect.Height());
                EXPECT_GT(placed.height(), 0);
                if (e.id == 1006)
                {
                    EXPECT_EQ(placed.right() + 1, rect.right);
                    EXPECT_LE(placed.width(), rect.Width());
                }
                else
                {
                    EXPECT_EQ(placed.left(), rect.left);
                    EXPECT_EQ(placed.width(), rect.Width());
                }
            }
            else
                EXPECT_EQ(placed, QRect(rect.left, rect.top, rect.Width(), rect.Height()));
            ExpectTextFits(w, e.text);
        }
    });
}

TEST(MainDialogLayout, FixedSizeCaptionIconAndTabOrder)
{
    EnsureApplication();
    CPellucorDlg dlg;
    RunModal(dlg, [&](QWidget* window) {
        EXPECT_EQ(window->windowTitle(), QStringLiteral("Vantrel Pellucor v1.3"));
        const CSize units = dlg.GetBaseUnits();
        EXPECT_EQ(window->size(), QSize(MulDiv(211, units.cx, 4), MulDiv(278, units.cy, 8)));
        EXPECT_EQ(window->minimumSize(), window->maximumSize());
        // Dialog units follow the dialog font's average character width and height.
        EXPECT_GT(units.cx, 3);
        EXPECT_EQ(units.cy, QFontMetrics(window->font()).height());

        const QList<QSize> sizes = window->windowIcon().availableSizes();
        for (int s : {16, 32, 48, 256})
            EXPECT_TRUE(sizes.contains(QSize(s, s))) << s;

        // Tab order is template order, over the controls that take the focus with Tab.
        std::vector<int> order;
        QWidget* w = Control(window, 1004);
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(w->hasFocus()) << "the first control in tab order has the focus at the start";
        for (int i = 0; i < 6; ++i)
        {
            order.push_back(w->property("dlgCtrlId").toInt());
            do
                w = w->nextInFocusChain();
            while (!(w->focusPolicy() & Qt::TabFocus) || !w->property("dlgCtrlId").isValid());
        }
        EXPECT_EQ(order, (std::vector<int>{1004, 1000, 1003, 1001, 1006, 1005}));
        EXPECT_EQ(w->property("dlgCtrlId").toInt(), 1004) << "the chain closes";
    });
}

TEST(MainDialogLayout, GroupFrameLinesRunThroughTheirCaptionsClearOfTheControlsInside)
{
    EnsureApplication();
    CPellucorDlg dlg;
    RunModal(dlg, [&](QWidget* window) {
        const QImage image = window->grab().toImage();
        const QRgb background = window->palette().color(QPalette::Window).rgb();
        const auto drawnRows = [&](const QRect& box, int left, int right) { // rows drawn on in these columns
            std::vector<int> rows;
            for (int y = box.top(); y <= box.bottom(); ++y)
                for (int x = left; x <= right && (rows.empty() || rows.back() != y); ++x)
                    if (image.pixel(x, y) != background)
                        rows.push_back(y);
            return rows;
        };
        for (QWidget* group : ControlsInTemplateOrder(window))
        {
            const QRect box = group->geometry();
            if (!dynamic_cast<gui::GroupFrame*>(group))
                continue;
            SCOPED_TRACE(gui::WidgetText(group).toStdString());
            // Beside the right line only the etched top and bottom lines are drawn, two rows each;
            // the caption is the first run of rows drawn across the box, the top line at its middle.
            const std::vector<int> lines = drawnRows(box, box.right() - 2, box.right() - 2);
            const std::vector<int> across = drawnRows(box, box.left() + 2, box.right() - 2);
            ASSERT_EQ(lines.size(), 4u);
            size_t last = 0;
            while (last + 1 < across.size() && across[last + 1] == across[last] + 1)
                ++last;
            EXPECT_LE(std::abs(2 * lines[0] - (across[0] + across[last])), 2) << lines[0];
            for (QWidget* inside : ControlsInTemplateOrder(window))
            {
                const QRect r = inside->geometry();
                EXPECT_TRUE(inside == group || !box.contains(r) || (r.top() > lines[1] && r.bottom() < lines[2]))
                    << "control " << inside->property("dlgCtrlId").toInt() << " on a frame line";
            }
        }
    });
}

TEST(MainDialogLayout, TabVisitsEachControlOnce)
{
    EnsureApplication();
    CPellucorDlg dlg;
    RunModal(dlg, [&](QWidget*) {
        std::vector<int> visited;
        for (int i = 0; i < 6; ++i)
        {
            QWidget* focus = QApplication::focusWidget();
            ASSERT_NE(focus, nullptr);
            QTest::keyClick(focus, Qt::Key_Tab);
            visited.push_back(QApplication::focusWidget()->property("dlgCtrlId").toInt());
        }
        EXPECT_EQ(visited, (std::vector<int>{1000, 1003, 1001, 1006, 1005, 1004}));
        for (int i = 0; i < 2; ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        EXPECT_EQ(QApplication::focusWidget()->property("dlgCtrlId").toInt(), 1006) << "Shift+Tab goes back one per press";
    });
}

TEST(MainDialogLayout, LinkWithoutIdealSizeIsMeasuredFromItsText)
{
    EnsureApplication();
    CPellucorDlg dlg;
    RunModal(dlg, [&](QWidget* window) {
        CLinkCtrl empty;
        ASSERT_TRUE(empty.SubclassWindow(new gui::LinkLabel(window, QString())));
        const QSize text = QFontMetrics(window->font()).size(Qt::TextSingleLine, QStringLiteral("Help"));
        const int textWidth = text.width();
        const CSize wide = dlg.GetLinkIdealSize(empty, L"Help", 1000);
        EXPECT_EQ(wide.cx, textWidth);
        EXPECT_EQ(wide.cy, text.height());
        EXPECT_EQ(dlg.GetLinkIdealSize(empty, L"Help", textWidth / 2).cx, textWidth / 2) << "never wider than allowed";
    });
}

TEST(MainDialogLayout, ScreenshotAfterOpeningAnArchive)
{
    EnsureApplication();
    testutil::TempDir dir;
    const auto archive = MakeDefinitionArchive(dir / "pack.zip", {"scania.r", "volvo.fh16", "man.tgx"});
    MessageBoxRecorder boxes;
    CPellucorDlg dlg;
    RunModal(dlg, [&](QWidget* window) {
        TypeText(Control(window, 1000), QString::fromStdString(archive.string()));
        PressKey(Control(window, 1000), Qt::Key_Return);
        ASSERT_TRUE(boxes.boxes.empty());
        const auto file = std::filesystem::path(TEST_BINARY_DIR) / "pellucor-dialog.png";
        EXPECT_TRUE(window->grab().save(QString::fromStdString(file.string())));
    });
}

} // namespace
