#include "gui/Widgets.h"

#include "gui/CDialog.h"
#include "gui/Controls.h"
#include "gui/Platform.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QFile>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <qdrawutil.h>
#include <QTextDocument>
#include <QToolButton>
#include <QUrl>

namespace gui {

namespace {

constexpr char16_t CarriageReturnSymbol = 0x240D;
const char* const ControlIdProperty = "dlgCtrlId";

// Window text (CR LF line breaks) -> document text: CR LF becomes one line break, a lone CR
// its visible symbol, so the document keeps it.
QString DocumentTextFromWindowText(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i)
    {
        const QChar c = text.at(i);
        if (c == u'\r')
        {
            if (i + 1 < text.size() && text.at(i + 1) == u'\n')
            {
                out += u'\n';
                ++i;
            }
            else
                out += QChar(CarriageReturnSymbol);
        }
        else
            out += c;
    }
    return out;
}

bool HasLocalFile(const QMimeData* mime)
{
    if (!mime || !mime->hasUrls())
        return false;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile())
            return true;
    return false;
}

// The native bytes of a dropped file's path. The URL's percent-encoded path holds the file
// name's bytes exactly, also when they are not valid UTF-8.
std::filesystem::path NativePathFromUrl(const QUrl& url)
{
    if (!url.host().isEmpty())
        return std::filesystem::path(QFile::encodeName(url.toLocalFile()).toStdString());
    const QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    return std::filesystem::path(bytes.toStdString());
}

void SendToDialog(QWidget* control, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* window = dynamic_cast<DialogWindow*>(control->window());
    if (!window || !window->dialog())
        return;
    CDialog* dialog = window->dialog();
    RunGuarded(dialog, [&] { dialog->SendMessage(message, wParam, lParam); });
}

int ControlId(const QWidget* widget)
{
    bool ok = false;
    const int id = widget->property(ControlIdProperty).toInt(&ok);
    return ok ? id : 0;
}

void SendLinkNotification(LinkLabel* link, UINT code, const QString& url)
{
    NMLINK notification;
    notification.hdr.hwndFrom = link;
    notification.hdr.idFrom = static_cast<UINT_PTR>(ControlId(link));
    notification.hdr.code = code;
    const auto& anchors = link->anchors();
    for (size_t i = 0; i < anchors.size(); ++i)
    {
        if (anchors[i].url == url)
        {
            notification.item.iLink = static_cast<int>(i);
            notification.item.szID = FromQString(anchors[i].id);
            break;
        }
    }
    notification.item.szUrl = FromQString(url);
    SendToDialog(link, WM_NOTIFY, static_cast<WPARAM>(ControlId(link)), reinterpret_cast<LPARAM>(&notification));
}

bool IsClass(const wchar_t* className, const wchar_t* name)
{
    return QString::fromWCharArray(className).compare(QString::fromWCharArray(name), Qt::CaseInsensitive) == 0;
}

// Reads one attribute value (quoted or not) of an anchor tag such as <a href="..." id=x>.
QString AttributeValue(const QString& tag, const QString& name)
{
    qsizetype at = 0;
    while ((at = tag.indexOf(name, at, Qt::CaseInsensitive)) >= 0)
    {
        qsizetype i = at + name.size();
        const bool startsWord = at > 0 && tag.at(at - 1).isSpace();
        while (i < tag.size() && tag.at(i).isSpace())
            ++i;
        if (!startsWord || i >= tag.size() || tag.at(i) != u'=')
        {
            at += name.size();
            continue;
        }
        ++i;
        while (i < tag.size() && tag.at(i).isSpace())
            ++i;
        if (i < tag.size() && (tag.at(i) == u'"' || tag.at(i) == u'\''))
        {
            const QChar quote = tag.at(i);
            const qsizetype end = tag.indexOf(quote, i + 1);
            return tag.mid(i + 1, end < 0 ? -1 : end - i - 1);
        }
        qsizetype end = i;
        while (end < tag.size() && !tag.at(end).isSpace() && tag.at(end) != u'>')
            ++end;
        return tag.mid(i, end - i);
    }
    return {};
}

} // namespace

// ---------------------------------------------------------------------------------------------

DialogWindow::DialogWindow(CDialog* dialog, QWidget* parent) : QDialog(parent), m_dialog(dialog)
{
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setModal(true);
}

void DialogWindow::reject()
{
    // Whatever asks Qt's dialog to cancel goes the framework's way: the cancel command.
    if (m_dialog)
        RunGuarded(m_dialog, [this] { m_dialog->SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0); });
}

void DialogWindow::keyPressEvent(QKeyEvent* event)
{
    // QDialog would press the default button on Enter and cancel on Escape; the dialog keyboard
    // of the framework has had its say already.
    QWidget::keyPressEvent(event);
}

void DialogWindow::closeEvent(QCloseEvent* event)
{
    event->ignore();
    reject();
}

// ---------------------------------------------------------------------------------------------

MultiLineEdit::MultiLineEdit(QWidget* parent, bool wantReturn) : QPlainTextEdit(parent), m_wantReturn(wantReturn)
{
    setTabChangesFocus(true);
}

QString MultiLineEdit::windowText() const
{
    // The raw text keeps every character (toPlainText would turn no-break spaces into blanks);
    // paragraph separators are the line breaks.
    const QString raw = document()->toRawText();
    QString out;
    out.reserve(raw.size() + raw.size() / 8);
    for (const QChar c : raw)
    {
        if (c == QChar::ParagraphSeparator)
            out += u"\r\n";
        else if (c == QChar(CarriageReturnSymbol))
            out += u'\r';
        else
            out += c;
    }
    return out;
}

void MultiLineEdit::setWindowText(const QString& text)
{
    setPlainText(DocumentTextFromWindowText(text));
}

void MultiLineEdit::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
    {
        if (!m_wantReturn)
        {
            event->ignore();
            return;
        }
        // One plain line break whatever the modifiers (Shift+Enter would insert a line
        // separator that is no line break in the window text).
        textCursor().insertText(QStringLiteral("\n"));
        ensureCursorVisible();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void MultiLineEdit::insertFromMimeData(const QMimeData* source)
{
    if (source && source->hasText())
    {
        textCursor().insertText(DocumentTextFromWindowText(source->text()));
        ensureCursorVisible();
        return;
    }
    QPlainTextEdit::insertFromMimeData(source);
}

// ---------------------------------------------------------------------------------------------

BrowseEdit::BrowseEdit(QWidget* parent, bool acceptFiles)
    : QLineEdit(parent), m_button(new QToolButton(this)), m_acceptFiles(acceptFiles)
{
    m_button->setText(QStringLiteral("..."));
    m_button->setFocusPolicy(Qt::NoFocus);
    m_button->setCursor(Qt::ArrowCursor);
    m_button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    setAcceptDrops(acceptFiles);
    placeButton();
}

void BrowseEdit::setBrowseButtonVisible(bool visible)
{
    m_button->setVisible(visible);
    placeButton();
}

void BrowseEdit::placeButton()
{
    const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    const int height = std::max(0, this->height() - 2 * frame);
    const int width = std::max(height, fontMetrics().horizontalAdvance(QStringLiteral("...")) + 8);
    m_button->setGeometry(this->width() - frame - width, frame, width, height);
    setTextMargins(0, 0, m_button->isHidden() ? 0 : width, 0);
}

void BrowseEdit::resizeEvent(QResizeEvent* event)
{
    QLineEdit::resizeEvent(event);
    placeButton();
}

void BrowseEdit::dragEnterEvent(QDragEnterEvent* event)
{
    if (m_acceptFiles && HasLocalFile(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void BrowseEdit::dragMoveEvent(QDragMoveEvent* event)
{
    if (m_acceptFiles && HasLocalFile(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void BrowseEdit::dropEvent(QDropEvent* event)
{
    const QMimeData* mime = event->mimeData();
    if (!m_acceptFiles || !HasLocalFile(mime))
    {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    DropFiles drop;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile())
            drop.files.push_back(NativePathFromUrl(url));
    if (CWnd* wnd = CWnd::FromHandlePermanent(this))
        RunGuarded(wnd, [&] { wnd->SendMessage(WM_DROPFILES, reinterpret_cast<WPARAM>(&drop), 0); });
}

// ---------------------------------------------------------------------------------------------

GroupFrame::GroupFrame(const QString& title, QWidget* parent) : QGroupBox(title, parent)
{
}

int GroupFrame::frameTop() const
{
    return fontMetrics().height() / 2;
}

QRect GroupFrame::captionRect() const
{
    // The caption starts a little in from the frame's left line, with a blank's width of gap on
    // each side where the line is interrupted.
    const QFontMetrics metrics = fontMetrics();
    const int gap = metrics.horizontalAdvance(u' ');
    const int width = std::min(metrics.horizontalAdvance(title()) + 2 * gap, std::max(0, this->width() - 2 * gap));
    return QRect(gap, 0, width, metrics.height());
}

void GroupFrame::paintEvent(QPaintEvent*)
{
    // An etched line, as the template's group boxes have; the style's own group-box frame would
    // again add room for the caption above it.
    QPainter painter(this);
    qDrawShadeRect(&painter, rect().adjusted(0, frameTop(), 0, 0), palette(), true, 1, 0);

    // The caption covers the line where it stands.
    const QRect caption = captionRect();
    painter.fillRect(caption, palette().brush(backgroundRole()));
    style()->drawItemText(&painter, caption, Qt::AlignCenter | Qt::TextSingleLine, palette(), isEnabled(), title(),
                          QPalette::WindowText);
}

// ---------------------------------------------------------------------------------------------

LinkLabel::LinkLabel(QWidget* parent, const QString& markup) : QLabel(parent)
{
    setTextFormat(Qt::RichText);
    setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    setOpenExternalLinks(false);
    setMarkup(markup);
    connect(this, &QLabel::linkActivated, this, [this](const QString& url) { SendLinkNotification(this, NM_CLICK, url); });
}

bool LinkLabel::focusNextPrevChild(bool next)
{
    return QWidget::focusNextPrevChild(next);
}

void LinkLabel::setMarkup(const QString& markup)
{
    // The markup of a link control: plain text with <a ...>text</a> anchors. Everything else is
    // text and is escaped for Qt's rich text.
    m_markup = markup;
    m_visibleText.clear();
    m_anchors.clear();
    QString html;
    qsizetype i = 0;
    while (i < markup.size())
    {
        const qsizetype open = markup.indexOf(QStringLiteral("<a"), i, Qt::CaseInsensitive);
        const bool isAnchor = open >= 0 && open + 2 < markup.size() &&
                              (markup.at(open + 2) == u'>' || markup.at(open + 2).isSpace());
        const qsizetype tagEnd = isAnchor ? markup.indexOf(u'>', open) : -1;
        const qsizetype close = tagEnd >= 0 ? markup.indexOf(QStringLiteral("</a>"), tagEnd, Qt::CaseInsensitive) : -1;
        if (close < 0)
        {
            const QString rest = markup.mid(i);
            html += rest.toHtmlEscaped();
            m_visibleText += rest;
            break;
        }
        const QString before = markup.mid(i, open - i);
        html += before.toHtmlEscaped();
        m_visibleText += before;
        const QString tag = markup.mid(open, tagEnd - open + 1);
        Anchor anchor;
        anchor.url = AttributeValue(tag, QStringLiteral("href"));
        anchor.id = AttributeValue(tag, QStringLiteral("id"));
        anchor.text = markup.mid(tagEnd + 1, close - tagEnd - 1);
        html += QStringLiteral("<a href=\"%1\">%2</a>").arg(anchor.url.toHtmlEscaped(), anchor.text.toHtmlEscaped());
        m_visibleText += anchor.text;
        m_anchors.push_back(anchor);
        i = close + 4;
    }
    setText(html);
}

// ---------------------------------------------------------------------------------------------

QString WidgetText(const QWidget* widget)
{
    if (!widget)
        return {};
    if (auto* edit = dynamic_cast<const MultiLineEdit*>(widget))
        return edit->windowText();
    if (auto* edit = dynamic_cast<const QLineEdit*>(widget))
        return edit->text();
    if (auto* button = dynamic_cast<const QAbstractButton*>(widget))
        return button->text();
    if (auto* group = dynamic_cast<const QGroupBox*>(widget))
        return group->title();
    if (auto* link = dynamic_cast<const LinkLabel*>(widget))
        return link->markup();
    if (auto* label = dynamic_cast<const QLabel*>(widget))
        return label->text();
    if (widget->isWindow())
        return widget->windowTitle();
    return {};
}

void SetWidgetText(QWidget* widget, const QString& text)
{
    if (!widget)
        return;
    if (auto* edit = dynamic_cast<MultiLineEdit*>(widget))
        edit->setWindowText(text);
    else if (auto* line = dynamic_cast<QLineEdit*>(widget))
        line->setText(text);
    else if (auto* button = dynamic_cast<QAbstractButton*>(widget))
        button->setText(text);
    else if (auto* group = dynamic_cast<QGroupBox*>(widget))
        group->setTitle(text);
    else if (auto* link = dynamic_cast<LinkLabel*>(widget))
        link->setMarkup(text);
    else if (auto* label = dynamic_cast<QLabel*>(widget))
        label->setText(text);
    else if (widget->isWindow())
        widget->setWindowTitle(text);
}

CSize DialogBaseUnits(const QFont& font)
{
    // The average width of the 52 letters, rounded, and the font's height: the units in which
    // dialog templates are laid out.
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return CSize{(letters / 26 + 1) / 2, metrics.height()};
}

namespace {

QWidget* CreateControl(QWidget* parent, const DialogControlTemplate& c)
{
    const QString text = c.text ? QString::fromWCharArray(c.text) : QString();
    QWidget* widget = nullptr;
    Qt::FocusPolicy tabFocus = (c.style & WS_TABSTOP) ? Qt::StrongFocus : Qt::ClickFocus;
    const int id = c.id;

    if (IsClass(c.className, L"BUTTON"))
    {
        const DWORD type = c.style & BS_TYPEMASK;
        if (type == BS_GROUPBOX)
        {
            auto* group = new GroupFrame(text, parent);
            group->setFocusPolicy(Qt::NoFocus);
            widget = group;
            tabFocus = Qt::NoFocus;
        }
        else
        {
            QAbstractButton* button = nullptr;
            if (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX)
                button = new QCheckBox(text, parent);
            else
            {
                auto* push = new QPushButton(text, parent);
                // Enter is the dialog keyboard's business, not an auto-default button's.
                push->setAutoDefault(false);
                push->setDefault(false);
                button = push;
            }
            QObject::connect(button, &QAbstractButton::clicked, button, [button, id] {
                SendToDialog(button, WM_COMMAND, MAKEWPARAM(static_cast<unsigned>(id), BN_CLICKED),
                             reinterpret_cast<LPARAM>(static_cast<QWidget*>(button)));
            });
            widget = button;
        }
    }
    else if (IsClass(c.className, L"EDIT"))
    {
        if (c.style & ES_MULTILINE)
        {
            auto* edit = new MultiLineEdit(parent, (c.style & ES_WANTRETURN) != 0);
            edit->setVerticalScrollBarPolicy((c.style & WS_VSCROLL) ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
            edit->setHorizontalScrollBarPolicy((c.style & WS_HSCROLL) ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
            edit->setLineWrapMode((c.style & (ES_AUTOHSCROLL | WS_HSCROLL)) ? QPlainTextEdit::NoWrap
                                                                           : QPlainTextEdit::WidgetWidth);
            if (!(c.style & WS_BORDER))
                edit->setFrameShape(QFrame::NoFrame);
            edit->setWindowText(text);
            widget = edit;
        }
        else
        {
            auto* edit = new QLineEdit(text, parent);
            edit->setFrame((c.style & WS_BORDER) != 0);
            widget = edit;
        }
    }
    else if (IsClass(c.className, L"MfcEditBrowse"))
    {
        auto* edit = new BrowseEdit(parent, (c.exStyle & WS_EX_ACCEPTFILES) != 0);
        edit->setFrame((c.style & WS_BORDER) != 0);
        edit->setText(text);
        QObject::connect(edit->browseButton(), &QToolButton::clicked, edit, [edit] {
            if (auto* ctrl = dynamic_cast<CMFCEditBrowseCtrl*>(CWnd::FromHandlePermanent(edit)))
                RunGuarded(ctrl, [ctrl] { ctrl->OnBrowse(); });
        });
        widget = edit;
    }
    else if (IsClass(c.className, L"SysLink"))
    {
        widget = new LinkLabel(parent, text);
    }
    else if (IsClass(c.className, L"STATIC"))
    {
        auto* label = new QLabel(text, parent);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        widget = label;
        tabFocus = Qt::NoFocus;
    }
    else
    {
        widget = new QWidget(parent);
        tabFocus = Qt::NoFocus;
    }

    widget->setFocusPolicy(tabFocus);
    widget->setProperty(ControlIdProperty, id);
    widget->setEnabled(!(c.style & WS_DISABLED));
    widget->setVisible((c.style & WS_VISIBLE) != 0);
    return widget;
}

} // namespace

void BuildDialog(DialogWindow& window, const DialogTemplate& tmpl)
{
    QFont font(tmpl.fontName ? QString::fromWCharArray(tmpl.fontName) : QApplication::font().family());
    // The template's face may not exist here; any sans-serif face then stands in for it.
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(tmpl.pointSize > 0 ? tmpl.pointSize : 8);
    if (tmpl.weight >= 600)
        font.setBold(true);
    font.setItalic(tmpl.italic);
    window.setFont(font);
    window.setWindowTitle(tmpl.caption ? QString::fromWCharArray(tmpl.caption) : QString());

    const CSize units = DialogBaseUnits(font);
    auto toPixels = [&](const DialogControlTemplate& c) {
        return QRect(MulDiv(c.x, units.cx, 4), MulDiv(c.y, units.cy, 8), MulDiv(c.cx, units.cx, 4),
                     MulDiv(c.cy, units.cy, 8));
    };
    window.setFixedSize(MulDiv(tmpl.cx, units.cx, 4), MulDiv(tmpl.cy, units.cy, 8));

    std::vector<QWidget*> created;
    for (size_t i = 0; i < tmpl.controlCount; ++i)
    {
        const DialogControlTemplate& c = tmpl.controls[i];
        QWidget* widget = CreateControl(&window, c);
        widget->setGeometry(toPixels(c));
        for (size_t k = 0; k < tmpl.initCount; ++k)
        {
            const DialogInitEntry& init = tmpl.initData[k];
            if (init.controlId == c.id && init.name)
                widget->setProperty(init.name, QString::fromWCharArray(init.value));
        }
        created.push_back(widget);
    }

    // Template order is the stacking order, the first control on top, and the tab order.
    for (QWidget* widget : created)
        widget->lower();
    QWidget* previous = nullptr;
    for (QWidget* widget : created)
    {
        if (!(widget->focusPolicy() & Qt::TabFocus))
            continue;
        if (previous)
            QWidget::setTabOrder(previous, widget);
        previous = widget;
    }
}

// ---------------------------------------------------------------------------------------------

int VirtualKeyFromQt(int key)
{
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return 0x41 + (key - Qt::Key_A);
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return 0x30 + (key - Qt::Key_0);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        return VK_F1 + (key - Qt::Key_F1);
    switch (key)
    {
    case Qt::Key_Return:
    case Qt::Key_Enter: return VK_RETURN;
    case Qt::Key_Escape: return VK_ESCAPE;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return VK_TAB;
    case Qt::Key_Space: return VK_SPACE;
    case Qt::Key_Backspace: return 0x08;
    case Qt::Key_PageUp: return 0x21;
    case Qt::Key_PageDown: return 0x22;
    case Qt::Key_End: return 0x23;
    case Qt::Key_Home: return 0x24;
    case Qt::Key_Left: return VK_LEFT;
    case Qt::Key_Up: return VK_UP;
    case Qt::Key_Right: return VK_RIGHT;
    case Qt::Key_Down: return VK_DOWN;
    case Qt::Key_Insert: return 0x2D;
    case Qt::Key_Delete: return 0x2E;
    case Qt::Key_Shift: return VK_SHIFT;
    case Qt::Key_Control: return VK_CONTROL;
    case Qt::Key_Alt: return VK_MENU;
    default: return 0;
    }
}

namespace {

// Offers every key press in a framework dialog to PreTranslateMessage of the window that has the
// focus and of its parents up to the dialog, before Qt delivers it; a TRUE answer swallows it.
class KeyRouter : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress || !object->isWidgetType())
            return false;
        auto* widget = static_cast<QWidget*>(object);
        auto* window = dynamic_cast<DialogWindow*>(widget->window());
        if (!window || !window->dialog())
            return false;
        // Qt hands an ignored key press on to the parents; route it on its first delivery only.
        QWidget* focus = window->focusWidget();
        if (focus ? widget != focus : widget != window)
            return false;
        auto* keyEvent = static_cast<QKeyEvent*>(event);
        const int key = VirtualKeyFromQt(keyEvent->key());
        if (key == 0)
            return false;

        MSG msg;
        msg.hwnd = widget;
        msg.message = (keyEvent->modifiers() & Qt::AltModifier) ? WM_SYSKEYDOWN : WM_KEYDOWN;
        msg.wParam = static_cast<WPARAM>(key);
        bool handled = false;
        SetCurrentKeyModifiers(static_cast<int>(keyEvent->modifiers()));
        const bool ok = RunGuarded(window->dialog(), [&] {
            for (QWidget* w = widget; w; w = w->parentWidget())
            {
                if (CWnd* wnd = CWnd::FromHandlePermanent(w); wnd && wnd->PreTranslateMessage(&msg))
                {
                    handled = true;
                    break;
                }
                if (w == window)
                    break;
            }
        });
        ClearCurrentKeyModifiers();
        // A key whose handling failed is not handed on as well.
        return handled || !ok;
    }
};

} // namespace

void InstallKeyRouter()
{
    static KeyRouter* router = nullptr;
    if (router || !qApp)
        return;
    router = new KeyRouter(qApp);
    qApp->installEventFilter(router);
}

} // namespace gui
