#pragma once
// The widgets that stand for the template's windows, and the routing of key presses through
// PreTranslateMessage. Internal to the window layer.
#include "gui/DialogTemplate.h"
#include "gui/WinTypes.h"

#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

#include <vector>

class CDialog;
class QToolButton;

namespace gui {

// The dialog's top-level window. Enter and Escape get no default handling of Qt (the dialog
// keyboard of CDialog decides), and the close button sends the cancel command.
class DialogWindow : public QDialog
{
public:
    DialogWindow(CDialog* dialog, QWidget* parent);
    CDialog* dialog() const { return m_dialog; }

    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    CDialog* m_dialog;
};

// The multi-line edit box. Its window text uses CR LF line breaks, and a lone CR is kept (shown
// as the symbol for carriage return) instead of becoming a line break, so the text read back
// is the text that was set.
class MultiLineEdit : public QPlainTextEdit
{
public:
    MultiLineEdit(QWidget* parent, bool wantReturn);
    bool wantsReturn() const { return m_wantReturn; }
    QString windowText() const;
    void setWindowText(const QString& text);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;

private:
    bool m_wantReturn;
};

// The single-line edit box with a browse button at its right end; with acceptFiles, local files
// can be dropped on it (other drops are refused, as the framework's edit box does).
class BrowseEdit : public QLineEdit
{
public:
    BrowseEdit(QWidget* parent, bool acceptFiles);
    QToolButton* browseButton() const { return m_button; }
    void setBrowseButtonVisible(bool visible);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void placeButton();
    QToolButton* m_button;
    bool m_acceptFiles;
};

// A group box drawn as dialog templates lay it out: the frame fills the box's rectangle below
// the caption's middle, and its top line runs through the caption, which interrupts it. Qt's
// styles put the caption above the frame instead, which pushes the top line down onto the first
// control inside.
class GroupFrame : public QGroupBox
{
public:
    GroupFrame(const QString& title, QWidget* parent);
    // The frame's top line, in the box's coordinates: the middle of the caption's line.
    int frameTop() const;
    // Where the caption is drawn, in the box's coordinates.
    QRect captionRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A link control: text with anchors written as <a href="...">text</a>. It is one Tab stop, as
// the template gives it; Enter on it is the dialog keyboard's business.
class LinkLabel : public QLabel
{
public:
    struct Anchor
    {
        QString id;
        QString url;
        QString text;
    };

    LinkLabel(QWidget* parent, const QString& markup);
    void setMarkup(const QString& markup);
    const QString& markup() const { return m_markup; }
    QString visibleText() const { return m_visibleText; }
    const std::vector<Anchor>& anchors() const { return m_anchors; }

protected:
    // Tab leaves the control instead of walking its anchors first.
    bool focusNextPrevChild(bool next) override;

private:
    QString m_markup;
    QString m_visibleText;
    std::vector<Anchor> m_anchors;
};

// The text of a window as the framework shows it (button label, edit text, caption, ...).
QString WidgetText(const QWidget* widget);
void SetWidgetText(QWidget* widget, const QString& text);

// Builds the windows of `tmpl` into `window`: font, caption, fixed size, the controls with their
// ids, positions, stacking and tab order.
void BuildDialog(DialogWindow& window, const DialogTemplate& tmpl);
// The dialog font's base units: the average width of the letters and the character height.
CSize DialogBaseUnits(const QFont& font);

// Installs, once, the application event filter that turns key presses in a dialog into
// messages for PreTranslateMessage.
void InstallKeyRouter();
// The virtual key of a Qt key; 0 for keys the dialogs do not route.
int VirtualKeyFromQt(int qtKey);

} // namespace gui
