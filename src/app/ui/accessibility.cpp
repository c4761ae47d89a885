#include "app/ui/accessibility.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>

namespace corvalin {

namespace {

// Which of our own interfaces a widget is read through, kept on the widget.
const char* const kKindProperty = "corvalinAccessible";
// A display's caption when no label on the screen is tied to it.
const char* const kCaptionProperty = "corvalinCaption";
// The caption label a control takes its name from.
const char* const kCaptionLabelProperty = "corvalinCaptionLabel";
const char* const kAnnouncerName = "announcer";

enum class Kind { Display = 1, Choice, Link, Alert, Notification };

// Every interface of ours, so that one made by Qt's own factory can be told from them.
class OwnInterface : public QAccessibleWidget {
public:
    using QAccessibleWidget::QAccessibleWidget;
};

// The label tied to `widget` with setBuddy, as Qt finds one: a sibling whose buddy it is.
QLabel* tiedCaption(const QWidget* widget) {
    const QWidget* parent = widget->parentWidget();
    if (!parent)
        return nullptr;
    for (QLabel* label : parent->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
        if (label->buddy() == widget)
            return label;
    }
    return nullptr;
}

// A display label read as "caption value": the figures alone ("0/0") say nothing of what they count.
class DisplayInterface : public OwnInterface {
public:
    explicit DisplayInterface(QLabel* label) : OwnInterface(label, QAccessible::StaticText) {}

    QString text(QAccessible::Text t) const override {
        const auto* label = static_cast<const QLabel*>(widget());
        if (t == QAccessible::Value)
            return label->text();
        if (t != QAccessible::Name || !label->accessibleName().isEmpty())
            return OwnInterface::text(t);
        const QLabel* caption = tiedCaption(label);
        const QString heading = caption ? caption->text() : label->property(kCaptionProperty).toString();
        return label->text().isEmpty() ? heading : heading + QLatin1Char(' ') + label->text();
    }
};

// A drive list: Qt names a combo box on this desktop by the item it shows, which says nothing of
// what it chooses; here the name is given, the item is its value, and its list is its child.
class ChoiceInterface : public OwnInterface {
public:
    explicit ChoiceInterface(QComboBox* box) : OwnInterface(box, QAccessible::ComboBox) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value)
            return box()->currentText();
        return OwnInterface::text(t);
    }
    int childCount() const override { return box()->view() ? 1 : 0; }
    QAccessibleInterface* child(int index) const override {
        return index == 0 && box()->view() ? QAccessible::queryAccessibleInterface(box()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child && child->object() == box()->view() ? 0 : -1;
    }
    QAccessible::State state() const override {
        QAccessible::State state = OwnInterface::state();
        state.expandable = true;
        state.expanded = box()->view() && box()->view()->isVisible();
        state.collapsed = !state.expanded;
        return state;
    }
    QStringList actionNames() const override {
        return QStringList{QAccessibleActionInterface::showMenuAction()} + OwnInterface::actionNames();
    }
    void doAction(const QString& action) override {
        if (action == QAccessibleActionInterface::showMenuAction() ||
            action == QAccessibleActionInterface::pressAction())
            box()->showPopup();
        else
            OwnInterface::doAction(action);
    }

private:
    QComboBox* box() const { return static_cast<QComboBox*>(widget()); }
};

// A label that opens something: pressed through the screen reader as by Return, which the window
// handles as it handles a click.
class LinkInterface : public OwnInterface {
public:
    explicit LinkInterface(QLabel* label) : OwnInterface(label, QAccessible::Link) {}

    QString text(QAccessible::Text t) const override {
        const QString own = OwnInterface::text(t);
        return t == QAccessible::Name && own.isEmpty() ? static_cast<const QLabel*>(widget())->text() : own;
    }
    QStringList actionNames() const override {
        return QStringList{QAccessibleActionInterface::pressAction()} + OwnInterface::actionNames();
    }
    void doAction(const QString& action) override {
        if (action != QAccessibleActionInterface::pressAction()) {
            OwnInterface::doAction(action);
            return;
        }
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QCoreApplication::sendEvent(widget(), &press);
    }
};

QAccessibleInterface* ownInterface(const QString&, QObject* object) {
    if (!object || !object->isWidgetType())
        return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    switch (static_cast<Kind>(object->property(kKindProperty).toInt())) {
    case Kind::Display:
        return new DisplayInterface(static_cast<QLabel*>(widget));
    case Kind::Choice:
        return new ChoiceInterface(static_cast<QComboBox*>(widget));
    case Kind::Link:
        return new LinkInterface(static_cast<QLabel*>(widget));
    case Kind::Alert:
        return new OwnInterface(widget, QAccessible::AlertMessage);
    case Kind::Notification:
        return new OwnInterface(widget, QAccessible::Notification);
    }
    return nullptr;
}

// Qt may have made the widget's interface already (a label's text set while a screen reader
// listens); that one is dropped, so that the next question makes ours.
void useOwnInterface(QWidget* widget, Kind kind) {
    static const bool installed = [] {
        QAccessible::installFactory(ownInterface);
        return true;
    }();
    (void)installed;
    widget->setProperty(kKindProperty, static_cast<int>(kind));
    QAccessibleInterface* made = QAccessible::queryAccessibleInterface(widget);
    if (made && !dynamic_cast<OwnInterface*>(made))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

// Item views and combo boxes read neither a tool tip nor a buddy; every control gets both here.
void describe(QWidget* control, const QString& name) {
    control->setAccessibleName(name);
    if (control->accessibleDescription().isEmpty() && control->toolTip() != name)
        control->setAccessibleDescription(control->toolTip());
}

} // namespace

void tieCaption(QLabel* caption, QWidget* control) {
    if (!caption->buddy())
        caption->setBuddy(control);
    control->setProperty(kCaptionLabelProperty, QVariant::fromValue(static_cast<QObject*>(caption)));
    if (auto* display = qobject_cast<QLabel*>(control)) {
        useOwnInterface(display, Kind::Display);
        return;
    }
    nameControl(control, caption->text());
}

void nameControl(QWidget* control, const QString& name) {
    if (auto* box = qobject_cast<QComboBox*>(control)) {
        useOwnInterface(box, Kind::Choice);
        box->view()->setAccessibleName(name); // its pop-up list, read when it opens
    }
    describe(control, name);
}

void nameDisplay(QLabel* display, const QString& caption) {
    display->setProperty(kCaptionProperty, caption);
    useOwnInterface(display, Kind::Display);
}

void setCaptionText(QLabel* caption, const QString& text) {
    caption->setText(text);
    QWidget* parent = caption->parentWidget();
    if (!parent)
        return;
    for (QWidget* control : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (control->property(kCaptionLabelProperty).value<QObject*>() == caption &&
            !qobject_cast<QLabel*>(control))
            control->setAccessibleName(text);
    }
}

void markLink(QLabel* link) {
    link->setFocusPolicy(Qt::TabFocus);
    useOwnInterface(link, Kind::Link);
}

void markAlert(QWidget* window, const QString& text) {
    window->setAccessibleDescription(text);
    useOwnInterface(window, Kind::Alert);
}

void announce(QWidget* window, const QString& text) {
    if (!window || text.isEmpty())
        return;
    auto* announcer = window->findChild<QWidget*>(QLatin1String(kAnnouncerName), Qt::FindDirectChildrenOnly);
    if (!announcer) {
        announcer = new QWidget(window);
        announcer->setObjectName(QLatin1String(kAnnouncerName));
        announcer->hide();
        useOwnInterface(announcer, Kind::Notification);
    }
    announcer->setAccessibleName(text);
    // Read out when it "appears" (the desktop's bridge); the alert is what other bridges read.
    QAccessibleEvent shown(announcer, QAccessible::ObjectShow);
    QAccessible::updateAccessibility(&shown);
    QAccessibleEvent alert(announcer, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
}

} // namespace corvalin
