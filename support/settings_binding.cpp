#include "support/settings_binding.h"

#include <QEvent>
#include <QGuiApplication>
#include <QLayout>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScreen>
#include <QSplitter>
#include <QTextEdit>
#include <QWidget>

#include <algorithm>
#include <climits>
#include <optional>

#include "store/ini_file.h"
#include "support/qt_text.h"
#include "support/sjis_text.h"

namespace hanabira {

namespace {

// Part of a window that must show on a screen for it to count as on that screen: enough to grab and
// move it.
constexpr int kMinVisible = 50;

int Extent(const QWidget* w, Qt::Orientation o) { return o == Qt::Horizontal ? w->width() : w->height(); }

// Gives the splitter child w the extent value along the splitter; the other children share the rest
// in proportion to what they have now. The splitter raises a value below the child's minimum to it
// (1 rather than 0, so the child is never collapsed out of sight).
void SetSplitterExtent(QSplitter* splitter, QWidget* w, int value) {
    const int index = splitter->indexOf(w);
    QList<int> sizes = splitter->sizes();
    if (index < 0 || index >= sizes.size()) return;
    value = std::max(value, 1);
    long long total = 0, others = 0;
    for (int i = 0; i < sizes.size(); ++i) {
        total += sizes[i];
        if (i != index) others += sizes[i];
    }
    const long long rest = std::max(0LL, total - value);
    const int count = static_cast<int>(sizes.size()) - 1;
    for (int i = 0; i < sizes.size(); ++i) {
        if (i == index) continue;
        sizes[i] = static_cast<int>(others > 0 ? rest * sizes[i] / others : (count > 0 ? rest / count : 0));
    }
    sizes[index] = value;
    splitter->setSizes(sizes);
}

QSplitter* SplitterAlong(QWidget* w, Qt::Orientation o) {
    auto* splitter = qobject_cast<QSplitter*>(w->parentWidget());
    return splitter && splitter->orientation() == o ? splitter : nullptr;
}

// A size given to a splitter child before its window was ever shown: the splitter has no real size
// then, so the value is applied again when the child is shown, and read back as given until then
// (a window that stays hidden through a run must not lose the stored size).
class PendingExtent : public QObject {
public:
    explicit PendingExtent(QWidget* w) : QObject(w), widget_(w) {
        setObjectName("hanabiraPendingExtent");
        w->installEventFilter(this);
    }
    static PendingExtent* Of(QWidget* w, bool create) {
        auto* p = w->findChild<PendingExtent*>("hanabiraPendingExtent", Qt::FindDirectChildrenOnly);
        return p || !create ? p : new PendingExtent(w);
    }
    std::optional<int> width, height;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == widget_ && event->type() == QEvent::Show) {
            for (auto [o, value] : {std::pair{Qt::Horizontal, width}, std::pair{Qt::Vertical, height}}) {
                if (!value) continue;
                if (QSplitter* s = SplitterAlong(widget_, o)) SetSplitterExtent(s, widget_, *value);
            }
            width.reset();
            height.reset();
        }
        return false;
    }

private:
    QWidget* widget_;
};

void SetExtent(QWidget* w, Qt::Orientation o, int value) {
    value = std::max(value, 0);
    if (QSplitter* splitter = SplitterAlong(w, o)) {
        SetSplitterExtent(splitter, w, value);
        if (!w->isVisible()) {
            PendingExtent* p = PendingExtent::Of(w, true);
            (o == Qt::Horizontal ? p->width : p->height) = value;
        }
        return;
    }
    // Below its minimum size hint a control would be cut or vanish; the layout would not show it smaller.
    const QSize least = w->minimumSizeHint();
    value = std::max(value, o == Qt::Horizontal ? least.width() : least.height());
    QWidget* parent = w->parentWidget();
    const bool inLayout = parent && parent->layout() && parent->layout()->indexOf(w) >= 0;
    if (inLayout) {
        // A layout would undo a plain resize at its next pass.
        if (o == Qt::Horizontal)
            w->setFixedWidth(value);
        else
            w->setFixedHeight(value);
    } else if (o == Qt::Horizontal) {
        w->resize(value, w->height());
    } else {
        w->resize(w->width(), value);
    }
}

int GetExtent(QWidget* w, Qt::Orientation o) {
    if (PendingExtent* p = PendingExtent::Of(w, false)) {
        const std::optional<int>& value = o == Qt::Horizontal ? p->width : p->height;
        if (value) return *value;
    }
    // A splitter child of a window never shown has never been laid out: its own size is a leftover.
    // A window gives such a child the size it opens at with SetWidgetExtent, which is read above.
    return Extent(w, o);
}

QString PlainText(QWidget* w) {
    if (auto* e = qobject_cast<QTextEdit*>(w)) return e->toPlainText();
    if (auto* e = qobject_cast<QPlainTextEdit*>(w)) return e->toPlainText();
    return {};
}

void SetPlainText(QWidget* w, const QString& text) {
    if (auto* e = qobject_cast<QTextEdit*>(w)) e->setPlainText(text);
    if (auto* e = qobject_cast<QPlainTextEdit*>(w)) e->setPlainText(text);
}

QRect NormalGeometry(const QWidget* window) {
    const QRect normal = window->normalGeometry();
    return normal.isValid() ? normal : window->geometry();
}

long long DistanceSquared(const QPoint& p, const QRect& r) {
    const long long dx = p.x() < r.left() ? r.left() - p.x() : p.x() > r.right() ? p.x() - r.right() : 0;
    const long long dy = p.y() < r.top() ? r.top() - p.y() : p.y() > r.bottom() ? p.y() - r.bottom() : 0;
    return dx * dx + dy * dy;
}

}  // namespace

void SetWidgetExtent(QWidget* control, Qt::Orientation o, int value) { SetExtent(control, o, value); }

void RegisterWidgetProperty(TMWIniFile& ini, QWidget* control, const char* propertyName) {
    const QString name = QString::fromLatin1(propertyName);
    std::string key = QStringToSjis(control->objectName());
    key.append(".").append(propertyName);
    QPointer<QWidget> w(control);
    const QString lower = name.toLower();
    if (lower == "width" || lower == "height") {
        const Qt::Orientation o = lower == "width" ? Qt::Horizontal : Qt::Vertical;
        ini.RegisterComponentProp(
            std::move(key), [w, o] { return w ? IntPropertyText(GetExtent(w, o)) : std::string(); },
            [w, o](const std::string& text) {
                if (w) SetExtent(w, o, ReadIntPropertyText(text));
            });
    } else if (lower == "lines" && (qobject_cast<QTextEdit*>(control) || qobject_cast<QPlainTextEdit*>(control))) {
        ini.RegisterComponentProp(
            std::move(key), [w] { return w ? NormalizeLineBreaks(QStringToSjis(PlainText(w))) : std::string(); },
            [w](const std::string& text) {
                if (!w) return;
                QString t = SjisToQString(text);
                t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
                t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
                SetPlainText(w, t);
            });
    } else {
        ini.RegisterComponentProp(std::move(key), [] { return std::string(); }, [](const std::string&) {});
    }
}

void StoreFormPos(TMWIniFile& ini, QWidget* window) {
    // Left and top are those of geometry() (the client area), the same that setGeometry takes on
    // restore, so a window comes back exactly where it was whatever its frame.
    const QRect r = NormalGeometry(window);
    ini.WriteValue(QStringToSjis(window->objectName()) + ".Pos",
                   FormatFormPos({r.left(), r.top(), r.width(), r.height()}));
}

void RestoreFormPos(TMWIniFile& ini, QWidget* window, bool keepSize) {
    const std::string text = ini.ReadValue(QStringToSjis(window->objectName()) + ".Pos");
    if (text.empty()) return;
    const QRect now = NormalGeometry(window);
    TFormPos pos = ParseFormPos(text, {now.left(), now.top(), now.width(), now.height()});
    // No window is made invisibly small by a stored size.
    if (keepSize || pos.Width < 1) pos.Width = now.width();
    if (keepSize || pos.Height < 1) pos.Height = now.height();
    QList<QRect> areas;
    for (QScreen* screen : QGuiApplication::screens()) areas << screen->availableGeometry();
    window->setGeometry(FitOnScreens(QRect(pos.Left, pos.Top, pos.Width, pos.Height), areas));
}

QRect FitOnScreens(const QRect& rect, const QList<QRect>& availableAreas) {
    if (availableAreas.isEmpty()) return rect;
    const QRect* nearest = nullptr;
    long long best = LLONG_MAX;
    for (const QRect& area : availableAreas) {
        const QRect common = area.intersected(rect);
        if (common.width() >= std::min(kMinVisible, rect.width()) &&
            common.height() >= std::min(kMinVisible, rect.height()) && !common.isEmpty())
            return rect;
        const long long d = DistanceSquared(rect.center(), area);
        if (d < best) {
            best = d;
            nearest = &area;
        }
    }
    // A monitor that has gone: the nearest area takes the window, whole where it fits.
    QRect fitted = rect;
    fitted.setWidth(std::min(rect.width(), nearest->width()));
    fitted.setHeight(std::min(rect.height(), nearest->height()));
    fitted.moveLeft(std::clamp(rect.left(), nearest->left(), nearest->right() - fitted.width() + 1));
    fitted.moveTop(std::clamp(rect.top(), nearest->top(), nearest->bottom() - fitted.height() + 1));
    return fitted;
}

}  // namespace hanabira
