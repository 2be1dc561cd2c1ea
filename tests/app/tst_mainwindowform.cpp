#include "testsupport.h"
#include "ui_mainwindow.h"

#include <cstddef>
#include <functional>
#include <QApplication>
#include <QBoxLayout>
#include <QDir>
#include <QFile>
#include <QFormLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QPixmap>
#include <QPushButton>
#include <QSizePolicy>
#include <QSpacerItem>
#include <QStatusBar>
#include <QStyle>
#include <QTest>
#include <QToolBar>
#include <QTranslator>
#include <QVariantMap>
#include <vector>

namespace {

const QSize windowSize(614, 708);
const QSize logoSize(500, 94);
const char logoPath[] = ":/images/images/ZARN.png";

// What a member of the form points at: a widget or layout, a layout item, or both.
struct Handle
{
    QObject *object = nullptr;
    QLayoutItem *item = nullptr;
};
Handle handleOf(QWidget *widget)
{
    return {widget, nullptr};
}
Handle handleOf(QLayout *layout)
{
    return {layout, layout};
}
Handle handleOf(QSpacerItem *spacer)
{
    return {nullptr, spacer};
}

struct Member
{
    const char *name;
    size_t offset;
    std::function<Handle(const Ui::MainWindow &)> get;
};

#define MEMBER(m)                                                                                            \
    Member                                                                                                   \
    {                                                                                                        \
#m, offsetof(Ui::MainWindow, m), [](const Ui::MainWindow &ui) { return handleOf(ui.m); }             \
    }

// Every pointer of the form object, in declaration order.
const std::vector<Member> &members()
{
    static const std::vector<Member> all{MEMBER(centralWidget),
                                         MEMBER(verticalLayout_4),
                                         MEMBER(verticalLayout),
                                         MEMBER(verticalSpacer),
                                         MEMBER(label_2),
                                         MEMBER(horizontalLayout_2),
                                         MEMBER(horizontalSpacer),
                                         MEMBER(label),
                                         MEMBER(horizontalSpacer_2),
                                         MEMBER(verticalSpacer_2),
                                         MEMBER(line),
                                         MEMBER(horizontalLayout),
                                         MEMBER(horizontalSpacer_3),
                                         MEMBER(verticalLayout_2),
                                         MEMBER(label_3),
                                         MEMBER(formLayout),
                                         MEMBER(curVerTSLabel),
                                         MEMBER(curVerTSLineEdit),
                                         MEMBER(curVerSWLabel),
                                         MEMBER(curVerSWLineEdit),
                                         MEMBER(curPIDverLabel),
                                         MEMBER(curPIDverLineEdit),
                                         MEMBER(horizontalSpacer_4),
                                         MEMBER(line_2),
                                         MEMBER(verticalSpacer_3),
                                         MEMBER(verticalLayout_3),
                                         MEMBER(label_4),
                                         MEMBER(horizontalLayout_3),
                                         MEMBER(filenameLineEdit),
                                         MEMBER(fileDialogButton),
                                         MEMBER(horizontalLayout_4),
                                         MEMBER(horizontalSpacer_5),
                                         MEMBER(imageInfoButton),
                                         MEMBER(startUpdateButton),
                                         MEMBER(verticalSpacer_4),
                                         MEMBER(formLayout_2),
                                         MEMBER(operationProgressLabel),
                                         MEMBER(currentProgressBar),
                                         MEMBER(totalProgressLabel),
                                         MEMBER(totalProgressBar),
                                         MEMBER(statusLabel),
                                         MEMBER(horizontalLayout_5),
                                         MEMBER(horizontalSpacer_6),
                                         MEMBER(label_5),
                                         MEMBER(timeElapsed),
                                         MEMBER(horizontalSpacer_7),
                                         MEMBER(label_7),
                                         MEMBER(timeRemain),
                                         MEMBER(horizontalSpacer_8),
                                         MEMBER(menuBar),
                                         MEMBER(mainToolBar),
                                         MEMBER(statusBar)};
    return all;
}

int memberIndex(const QString &name)
{
    for (size_t i = 0; i < members().size(); ++i)
        if (name == QLatin1String(members()[i].name))
            return int(i);
    return -1;
}

struct FixedText
{
    const char *object;
    const char *property;
    const char *text;
};

// The texts that pass through translation; "window" is the main window itself.
const FixedText fixedTexts[] = {
    {"window", "windowTitle", "ZARN Update Utility"},
    {"label_2", "text", "ZARN Update Utility"},
    {"label_3", "text", "Current Version of ZARN System:"},
    {"curVerTSLabel", "text", "Current HW timestamp:"},
    {"curVerSWLabel", "text", "Current SW version:"},
    {"curPIDverLabel", "text", "Current PID version:"},
    {"label_4", "text", "ZARN Update Image file:"},
    {"filenameLineEdit", "placeholderText", "Enter image file name or search for it (button '...')"},
    {"fileDialogButton", "text", "..."},
    {"imageInfoButton", "text", "Get Image Info"},
    {"startUpdateButton", "text", "Update"},
    {"operationProgressLabel", "text", "Current progress:"},
    {"totalProgressLabel", "text", "Total progress:"},
    {"label_5", "text", "Time elapsed:"},
    {"label_7", "text", "Time remaining: "},
};

// Texts that the text step empties rather than translates.
const FixedText clearedTexts[] = {
    {"label", "text", ""},       {"filenameLineEdit", "inputMask", ""}, {"filenameLineEdit", "text", ""},
    {"statusLabel", "text", ""}, {"timeElapsed", "text", ""},           {"timeRemain", "text", ""},
};

QObject *objectNamed(QMainWindow &window, const Ui::MainWindow &ui, const QString &name)
{
    if (name == QLatin1String("window"))
        return &window;
    return members()[size_t(memberIndex(name))].get(ui).object;
}

QSizePolicy policy(QSizePolicy::Policy horizontal, QSizePolicy::Policy vertical)
{
    return QSizePolicy(horizontal, vertical);
}

const int alignCentre = Qt::AlignHCenter | Qt::AlignVCenter;
const int alignRight = Qt::AlignRight | Qt::AlignVCenter;
const int alignLeft = Qt::AlignLeft | Qt::AlignVCenter;
const QSize noLimit(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);

// Settings every object of a kind has unless its row says otherwise.
QVariantMap defaultsFor(const QString &className)
{
    QVariantMap defaults;
    if (className.startsWith(QLatin1String("Q")) && className.endsWith(QLatin1String("Layout"))) {
        defaults.insert("spacing", 6);
        defaults.insert("margin", 0);
        return defaults;
    }
    if (className == QLatin1String("QSpacerItem"))
        return defaults;
    defaults.insert("enabled", true);
    defaults.insert("maximumSize", noLimit);
    defaults.insert("pointSize", QVariant()); // the toolkit's default font
    if (className == QLatin1String("QLabel")) {
        defaults.insert("alignment", alignLeft);
        defaults.insert("textFormat", int(Qt::AutoText));
        defaults.insert("scaledContents", false);
    }
    if (className == QLatin1String("QLineEdit"))
        defaults.insert("readOnly", false);
    return defaults;
}

QString describe(const QVariant &value)
{
    if (value.userType() == QMetaType::QSizePolicy) {
        const auto p = value.value<QSizePolicy>();
        return QStringLiteral("policy %1x%2 stretch %3/%4 hfw %5")
            .arg(p.horizontalPolicy())
            .arg(p.verticalPolicy())
            .arg(p.horizontalStretch())
            .arg(p.verticalStretch())
            .arg(p.hasHeightForWidth());
    }
    if (value.userType() == QMetaType::QRect) {
        const QRect r = value.toRect();
        return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
    }
    if (value.userType() == QMetaType::QSize)
        return QStringLiteral("%1x%2").arg(value.toSize().width()).arg(value.toSize().height());
    return QStringLiteral("'%1' (%2)").arg(value.toString(), QString::fromLatin1(value.typeName()));
}

bool sameValue(const QVariant &actual, const QVariant &expected)
{
    if (expected.userType() == QMetaType::QSizePolicy) {
        const auto a = actual.value<QSizePolicy>();
        const auto e = expected.value<QSizePolicy>();
        return a.horizontalPolicy() == e.horizontalPolicy() && a.verticalPolicy() == e.verticalPolicy() &&
               a.horizontalStretch() == 0 && a.verticalStretch() == 0 && !a.hasHeightForWidth();
    }
    if (expected.userType() == QMetaType::Int) {
        bool ok = false;
        const int value = actual.toInt(&ok);
        return ok && value == expected.toInt();
    }
    return actual == expected;
}

// The value of one setting, read the way the toolkit exposes it.
QVariant readSetting(const Handle &handle, const QString &key)
{
    if (!handle.object) {
        auto *spacer = handle.item->spacerItem();
        if (key == QLatin1String("sizeHint"))
            return spacer->sizeHint();
        if (key == QLatin1String("sizePolicy"))
            return QVariant::fromValue(spacer->sizePolicy());
        return QVariant();
    }
    if (auto *layout = qobject_cast<QLayout *>(handle.object)) {
        if (key == QLatin1String("margin")) {
            const QMargins m = layout->contentsMargins();
            const bool even = m.left() == m.top() && m.top() == m.right() && m.right() == m.bottom();
            return even ? QVariant(m.left()) : QVariant(QStringLiteral("uneven"));
        }
        if (key == QLatin1String("count"))
            return layout->count();
        if (key == QLatin1String("rowCount"))
            return qobject_cast<QFormLayout *>(layout)->rowCount();
    }
    if (key == QLatin1String("pointSize"))
        return qobject_cast<QWidget *>(handle.object)->font().pointSize();
    return handle.object->property(key.toLatin1().constData());
}

// Where the member must sit: a box layout index, "row N label|field" in a form
// layout, "layout" of centralWidget, or a place of the main window.
QString checkPlace(QMainWindow &window, const Ui::MainWindow &ui, const Handle &handle,
                   const QString &container, const QString &position)
{
    auto *widget = qobject_cast<QWidget *>(handle.object);
    auto *layout = qobject_cast<QLayout *>(handle.object);
    if (container == QLatin1String("window")) {
        bool placed = false;
        if (position == QLatin1String("central"))
            placed = window.centralWidget() == widget;
        else if (position == QLatin1String("menu bar"))
            placed = window.menuBar() == widget;
        else if (position == QLatin1String("top tool bar"))
            placed = qobject_cast<QToolBar *>(widget) &&
                     window.toolBarArea(qobject_cast<QToolBar *>(widget)) == Qt::TopToolBarArea;
        else if (position == QLatin1String("status bar"))
            placed = window.statusBar() == widget;
        if (!placed)
            return QStringLiteral("not the window's %1").arg(position);
        return widget->parentWidget() == &window ? QString() : QStringLiteral("not a child of the window");
    }
    if (container == QLatin1String("centralWidget"))
        return ui.centralWidget->layout() == layout ? QString()
                                                    : QStringLiteral("not centralWidget's layout");

    if (widget && widget->parentWidget() != ui.centralWidget)
        return QStringLiteral("not a child of centralWidget");
    QObject *parent = members()[size_t(memberIndex(container))].get(ui).object;
    QLayoutItem *found = nullptr;
    if (auto *form = qobject_cast<QFormLayout *>(parent)) {
        const QStringList parts = position.split(QLatin1Char(' '));
        const auto role =
            parts.at(2) == QLatin1String("label") ? QFormLayout::LabelRole : QFormLayout::FieldRole;
        found = form->itemAt(parts.at(1).toInt(), role);
    } else {
        found = qobject_cast<QBoxLayout *>(parent)->itemAt(position.toInt());
    }
    if (!found)
        return QStringLiteral("nothing at %1 of %2").arg(position, container);
    const bool same = widget ? found->widget() == widget : found == handle.item;
    return same ? QString() : QStringLiteral("something else at %1 of %2").arg(position, container);
}

// Marks every text that goes through translation with the context it was asked in.
class MarkingTranslator : public QTranslator
{
public:
    QString translate(const char *context, const char *sourceText, const char *disambiguation,
                      int n) const override
    {
        if (disambiguation || n != -1)
            return QString();
        return QStringLiteral("[%1]%2").arg(QString::fromLatin1(context), QString::fromUtf8(sourceText));
    }
    bool isEmpty() const override { return false; }
};

class SlotProbeWindow : public QMainWindow
{
    Q_OBJECT

public:
    int infoClicks = 0;

private slots:
    void on_imageInfoButton_clicked() { ++infoClicks; }
};

} // namespace

class MainWindowFormTest : public QObject
{
    Q_OBJECT

private slots:
    void form_data();
    void form();
    void memberCount();
    void window();
    void windowKeepsItsName();
    void translatedTexts();
    void progressRowsStartAtRowOne();
    void logoDrawnUnscaled();
    void versionFieldsTakeNoFocus();
    void slotsJoinedByName();
    void logoResource();
};

void MainWindowFormTest::form_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QString>("position");
    QTest::addColumn<QVariantMap>("settings");

    const QVariantMap none;
    const QVariantMap hspacer{{"sizeHint", QSize(40, 20)},
                              {"sizePolicy", policy(QSizePolicy::Expanding, QSizePolicy::Minimum)}};
    const QVariantMap vspacer20{{"sizeHint", QSize(20, 20)},
                                {"sizePolicy", policy(QSizePolicy::Minimum, QSizePolicy::MinimumExpanding)}};
    const QVariantMap line{{"frameShape", int(QFrame::HLine)}, {"frameShadow", int(QFrame::Sunken)}};
    const QVariantMap versionField{{"enabled", false}, {"text", QString()}};
    const QVariantMap bar{{"value", 0}, {"minimum", 0}, {"maximum", 100}};

    const auto row = [](const char *name, const char *className, const char *container, const char *position,
                        QVariantMap settings) {
        for (const FixedText &text : fixedTexts)
            if (qstrcmp(text.object, name) == 0)
                settings.insert(text.property, QString::fromUtf8(text.text));
        for (const FixedText &text : clearedTexts)
            if (qstrcmp(text.object, name) == 0)
                settings.insert(text.property, QString());
        QTest::newRow(name) << className << container << position << settings;
    };

    row("centralWidget", "QWidget", "window", "central", none);
    row("verticalLayout_4", "QVBoxLayout", "centralWidget", "layout", {{"margin", 11}, {"count", 7}});
    row("verticalLayout", "QVBoxLayout", "verticalLayout_4", "0", {{"count", 3}});
    row("verticalSpacer", "QSpacerItem", "verticalLayout", "0",
        {{"sizeHint", QSize(20, 40)}, {"sizePolicy", policy(QSizePolicy::Minimum, QSizePolicy::Expanding)}});
    row("label_2", "QLabel", "verticalLayout", "1", {{"pointSize", 15}, {"alignment", alignCentre}});
    row("horizontalLayout_2", "QHBoxLayout", "verticalLayout", "2", {{"count", 3}});
    row("horizontalSpacer", "QSpacerItem", "horizontalLayout_2", "0", hspacer);
    row("label", "QLabel", "horizontalLayout_2", "1",
        {{"sizePolicy", policy(QSizePolicy::Preferred, QSizePolicy::Preferred)},
         {"maximumSize", QSize(1000, QWIDGETSIZE_MAX)}});
    row("horizontalSpacer_2", "QSpacerItem", "horizontalLayout_2", "2", hspacer);
    row("verticalSpacer_2", "QSpacerItem", "verticalLayout_4", "1", vspacer20);
    row("line", "QFrame", "verticalLayout_4", "2", line);
    row("horizontalLayout", "QHBoxLayout", "verticalLayout_4", "3", {{"count", 3}});
    row("horizontalSpacer_3", "QSpacerItem", "horizontalLayout", "0", hspacer);
    row("verticalLayout_2", "QVBoxLayout", "horizontalLayout", "1", {{"count", 2}});
    row("label_3", "QLabel", "verticalLayout_2", "0", none);
    row("formLayout", "QFormLayout", "verticalLayout_2", "1", {{"count", 6}, {"rowCount", 3}});
    row("curVerTSLabel", "QLabel", "formLayout", "row 0 label", none);
    row("curVerTSLineEdit", "QLineEdit", "formLayout", "row 0 field", versionField);
    row("curVerSWLabel", "QLabel", "formLayout", "row 1 label", none);
    row("curVerSWLineEdit", "QLineEdit", "formLayout", "row 1 field", versionField);
    row("curPIDverLabel", "QLabel", "formLayout", "row 2 label", none);
    row("curPIDverLineEdit", "QLineEdit", "formLayout", "row 2 field", versionField);
    row("horizontalSpacer_4", "QSpacerItem", "horizontalLayout", "2", hspacer);
    row("line_2", "QFrame", "verticalLayout_4", "4", line);
    row("verticalSpacer_3", "QSpacerItem", "verticalLayout_4", "5", vspacer20);
    row("verticalLayout_3", "QVBoxLayout", "verticalLayout_4", "6", {{"count", 7}});
    row("label_4", "QLabel", "verticalLayout_3", "0", none);
    row("horizontalLayout_3", "QHBoxLayout", "verticalLayout_3", "1", {{"count", 2}});
    row("filenameLineEdit", "QLineEdit", "horizontalLayout_3", "0", none);
    row("fileDialogButton", "QPushButton", "horizontalLayout_3", "1",
        {{"maximumSize", QSize(40, QWIDGETSIZE_MAX)}});
    row("horizontalLayout_4", "QHBoxLayout", "verticalLayout_3", "2", {{"count", 3}});
    row("horizontalSpacer_5", "QSpacerItem", "horizontalLayout_4", "0", hspacer);
    row("imageInfoButton", "QPushButton", "horizontalLayout_4", "1", none);
    row("startUpdateButton", "QPushButton", "horizontalLayout_4", "2", none);
    row("verticalSpacer_4", "QSpacerItem", "verticalLayout_3", "3", vspacer20);
    row("formLayout_2", "QFormLayout", "verticalLayout_3", "4", {{"count", 4}, {"rowCount", 3}});
    row("operationProgressLabel", "QLabel", "formLayout_2", "row 1 label", {{"alignment", alignRight}});
    row("currentProgressBar", "QProgressBar", "formLayout_2", "row 1 field", bar);
    row("totalProgressLabel", "QLabel", "formLayout_2", "row 2 label",
        {{"alignment", alignRight},
         {"sizePolicy", policy(QSizePolicy::MinimumExpanding, QSizePolicy::Preferred)}});
    row("totalProgressBar", "QProgressBar", "formLayout_2", "row 2 field", bar);
    row("statusLabel", "QLabel", "verticalLayout_3", "5", {{"alignment", alignCentre}});
    row("horizontalLayout_5", "QHBoxLayout", "verticalLayout_3", "6", {{"count", 7}});
    row("horizontalSpacer_6", "QSpacerItem", "horizontalLayout_5", "0", hspacer);
    row("label_5", "QLabel", "horizontalLayout_5", "1", none);
    row("timeElapsed", "QLabel", "horizontalLayout_5", "2", none);
    row("horizontalSpacer_7", "QSpacerItem", "horizontalLayout_5", "3", hspacer);
    row("label_7", "QLabel", "horizontalLayout_5", "4", none);
    row("timeRemain", "QLabel", "horizontalLayout_5", "5", none);
    row("horizontalSpacer_8", "QSpacerItem", "horizontalLayout_5", "6", hspacer);
    row("menuBar", "QMenuBar", "window", "menu bar", {{"geometry", QRect(0, 0, 614, 25)}});
    row("mainToolBar", "QToolBar", "window", "top tool bar", none);
    row("statusBar", "QStatusBar", "window", "status bar", none);
}

void MainWindowFormTest::form()
{
    QFETCH(QString, className);
    QFETCH(QString, container);
    QFETCH(QString, position);
    QFETCH(QVariantMap, settings);
    const QString name = QString::fromLatin1(QTest::currentDataTag());

    QMainWindow window;
    Ui::MainWindow ui;
    ui.setupUi(&window);

    // Rows are listed in tree order, so the row number is the declaration index.
    const int index = memberIndex(name);
    QVERIFY(index >= 0);
    QCOMPARE(members()[size_t(index)].offset, size_t(index) * sizeof(void *));
    if (index > 0)
        QVERIFY(members()[size_t(index - 1)].offset < members()[size_t(index)].offset);

    const Handle handle = members()[size_t(index)].get(ui);
    if (handle.object) {
        QCOMPARE(handle.object->objectName(), name);
        QCOMPARE(QString::fromLatin1(handle.object->metaObject()->className()), className);
    } else {
        QCOMPARE(QStringLiteral("QSpacerItem"), className);
        QVERIFY(handle.item && handle.item->spacerItem());
    }

    const QString misplaced = checkPlace(window, ui, handle, container, position);
    QVERIFY2(misplaced.isEmpty(), qPrintable(misplaced));

    QVariantMap expected = defaultsFor(className);
    for (auto it = settings.cbegin(); it != settings.cend(); ++it)
        expected.insert(it.key(), it.value());
    QStringList mismatches;
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        QVariant want = it.value();
        if (it.key() == QLatin1String("pointSize") && !want.isValid())
            want = QApplication::font(qobject_cast<QWidget *>(handle.object)).pointSize();
        const QVariant got = readSetting(handle, it.key());
        if (!sameValue(got, want))
            mismatches << QStringLiteral("%1: %2, expected %3").arg(it.key(), describe(got), describe(want));
    }
    QVERIFY2(mismatches.isEmpty(), qPrintable(mismatches.join(QStringLiteral("; "))));
}

void MainWindowFormTest::memberCount()
{
    // The form object is nothing but its pointers.
    QCOMPARE(int(members().size()), 52);
    QCOMPARE(sizeof(Ui::MainWindow), members().size() * sizeof(void *));
}

void MainWindowFormTest::window()
{
    QMainWindow window;
    Ui::MainWindow ui;
    ui.setupUi(&window);

    QCOMPARE(window.objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(window.size(), windowSize);
    QCOMPARE(window.sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(window.sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(window.windowTitle(), QStringLiteral("ZARN Update Utility"));
    QVERIFY(ui.menuBar->actions().isEmpty());
    QVERIFY(ui.mainToolBar->actions().isEmpty());

    // The form's content fits: showing it does not stretch the window.
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.size(), windowSize);
}

void MainWindowFormTest::windowKeepsItsName()
{
    QMainWindow window;
    window.setObjectName(QStringLiteral("updaterWindow"));
    Ui::MainWindow ui;
    ui.setupUi(&window);
    QCOMPARE(window.objectName(), QStringLiteral("updaterWindow"));
}

void MainWindowFormTest::translatedTexts()
{
    QMainWindow window;
    Ui::MainWindow ui;
    ui.setupUi(&window);
    ui.filenameLineEdit->setText(QStringLiteral("typed.zarnru"));
    ui.statusLabel->setText(QStringLiteral("busy"));

    MarkingTranslator translator;
    QVERIFY(QCoreApplication::installTranslator(&translator));
    ui.retranslateUi(&window);
    QCoreApplication::removeTranslator(&translator);

    for (const FixedText &text : fixedTexts) {
        const QVariant value = objectNamed(window, ui, QLatin1String(text.object))->property(text.property);
        QCOMPARE(value.toString(), QStringLiteral("[MainWindow]") + QString::fromUtf8(text.text));
    }
    for (const FixedText &text : clearedTexts) {
        const QVariant value = objectNamed(window, ui, QLatin1String(text.object))->property(text.property);
        QCOMPARE(value.toString(), QString());
    }
}

void MainWindowFormTest::progressRowsStartAtRowOne()
{
    QMainWindow window;
    Ui::MainWindow ui;
    ui.setupUi(&window);
    QCOMPARE(ui.formLayout_2->itemAt(0, QFormLayout::LabelRole), nullptr);
    QCOMPARE(ui.formLayout_2->itemAt(0, QFormLayout::FieldRole), nullptr);
    QCOMPARE(ui.formLayout_2->itemAt(0, QFormLayout::SpanningRole), nullptr);
}

void MainWindowFormTest::logoDrawnUnscaled()
{
    QMainWindow window;
    Ui::MainWindow ui;
    ui.setupUi(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    const QImage logo(QString::fromLatin1(logoPath));
    QCOMPARE(logo.size(), logoSize);
    QVERIFY(logo.hasAlphaChannel());
    QCOMPARE(ui.label->pixmap(Qt::ReturnByValue).size(), logoSize);

    QLabel *label = ui.label;
    QVERIFY(label->width() >= logoSize.width());
    QVERIFY(label->height() >= logoSize.height());

    // Painted over transparency, the label's pixels are the logo's own.
    QImage painted(label->size(), QImage::Format_ARGB32_Premultiplied);
    painted.fill(Qt::transparent);
    label->render(&painted, QPoint(), QRegion(), QWidget::DrawChildren);
    const QRect where =
        QStyle::alignedRect(label->layoutDirection(), label->alignment(), logoSize, label->contentsRect());
    QCOMPARE(painted.copy(where), logo.convertToFormat(QImage::Format_ARGB32_Premultiplied));

    // The two spacers beside it share what is left of the row.
    const int leftGap = ui.horizontalSpacer->geometry().width();
    const int rightGap = ui.horizontalSpacer_2->geometry().width();
    QVERIFY2(qAbs(leftGap - rightGap) <= 1,
             qPrintable(QStringLiteral("%1 vs %2").arg(leftGap).arg(rightGap)));
}

void MainWindowFormTest::versionFieldsTakeNoFocus()
{
    QMainWindow window;
    Ui::MainWindow ui;
    ui.setupUi(&window);
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));

    for (QLineEdit *field : {ui.curVerTSLineEdit, ui.curVerSWLineEdit, ui.curPIDverLineEdit}) {
        field->setFocus();
        QVERIFY2(!field->hasFocus(), qPrintable(field->objectName()));
        QVERIFY(!field->isEnabled());
    }
    ui.filenameLineEdit->setFocus();
    QVERIFY(ui.filenameLineEdit->hasFocus());
}

void MainWindowFormTest::slotsJoinedByName()
{
    SlotProbeWindow window;
    Ui::MainWindow ui;
    ui.setupUi(&window);
    QTest::mouseClick(ui.imageInfoButton, Qt::LeftButton);
    QCOMPARE(window.infoClicks, 1);
}

void MainWindowFormTest::logoResource()
{
    QCOMPARE(QDir(QStringLiteral(":/images")).entryList(), QStringList{QStringLiteral("images")});
    QCOMPARE(QDir(QStringLiteral(":/images/images")).entryList(), QStringList{QStringLiteral("ZARN.png")});

    QFile file(QString::fromLatin1(logoPath));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray png = file.readAll();
    QVERIFY(png.startsWith("\x89PNG\r\n\x1a\n"));
    QCOMPARE(png.mid(12, 4), QByteArrayLiteral("IHDR"));
    const auto byteAt = [&png](int offset) { return quint8(png.at(offset)); };
    const auto wordAt = [&](int offset) {
        return quint32(byteAt(offset)) << 24 | quint32(byteAt(offset + 1)) << 16 |
               quint32(byteAt(offset + 2)) << 8 | byteAt(offset + 3);
    };
    QCOMPARE(wordAt(16), quint32(logoSize.width()));
    QCOMPARE(wordAt(20), quint32(logoSize.height()));
    QCOMPARE(byteAt(24), quint8(8)); // bits per channel
    QCOMPARE(byteAt(25), quint8(6)); // RGB with alpha
    QCOMPARE(byteAt(28), quint8(0)); // not interlaced
}

QTEST_MAIN(MainWindowFormTest)
#include "tst_mainwindowform.moc"
