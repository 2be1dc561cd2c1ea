// The window's form, built on a plain QMainWindow: the tree with its names and
// order, the properties the program relies on, the texts, and the logo.

#include "ui_mainwindow.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFormLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMap>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSpacerItem>
#include <QStatusBar>
#include <QStyle>
#include <QTest>
#include <QToolBar>

namespace {

const QSize windowSize(614, 708);
const QSize logoSize(500, 94);
const char logoPath[] = ":/images/images/ZARN.png";

// The tree in the order of the form, one space of indent per level. A line
// names the member and its class, then what the form sets on it that the
// program relies on: texts, a disabled field, a centred or right alignment, a
// larger font, a progress range, the logo. Form layout children start with
// their row and role.
const QStringList expectedTree{
    "centralWidget QWidget",
    " verticalLayout_4 QVBoxLayout",
    "  verticalLayout QVBoxLayout",
    "   verticalSpacer spacer",
    "   label_2 QLabel 'ZARN Update Utility' centre 15pt",
    "   horizontalLayout_2 QHBoxLayout",
    "    horizontalSpacer spacer",
    "    label QLabel logo 500x94",
    "    horizontalSpacer_2 spacer",
    "  verticalSpacer_2 spacer",
    "  line QFrame",
    "  horizontalLayout QHBoxLayout",
    "   horizontalSpacer_3 spacer",
    "   verticalLayout_2 QVBoxLayout",
    "    label_3 QLabel 'Current Version of ZARN System:'",
    "    formLayout QFormLayout",
    "     0L curVerTSLabel QLabel 'Current HW timestamp:'",
    "     0F curVerTSLineEdit QLineEdit disabled",
    "     1L curVerSWLabel QLabel 'Current SW version:'",
    "     1F curVerSWLineEdit QLineEdit disabled",
    "     2L curPIDverLabel QLabel 'Current PID version:'",
    "     2F curPIDverLineEdit QLineEdit disabled",
    "   horizontalSpacer_4 spacer",
    "  line_2 QFrame",
    "  verticalSpacer_3 spacer",
    "  verticalLayout_3 QVBoxLayout",
    "   label_4 QLabel 'ZARN Update Image file:'",
    "   horizontalLayout_3 QHBoxLayout",
    "    filenameLineEdit QLineEdit placeholder 'Enter image file name or search for it (button '...')'",
    "    fileDialogButton QPushButton '...'",
    "   horizontalLayout_4 QHBoxLayout",
    "    horizontalSpacer_5 spacer",
    "    imageInfoButton QPushButton 'Get Image Info'",
    "    startUpdateButton QPushButton 'Update'",
    "   verticalSpacer_4 spacer",
    "   formLayout_2 QFormLayout",
    "    1L operationProgressLabel QLabel 'Current progress:' right",
    "    1F currentProgressBar QProgressBar 0..100 at 0",
    "    2L totalProgressLabel QLabel 'Total progress:' right",
    "    2F totalProgressBar QProgressBar 0..100 at 0",
    "   statusLabel QLabel centre",
    "   horizontalLayout_5 QHBoxLayout",
    "    horizontalSpacer_6 spacer",
    "    label_5 QLabel 'Time elapsed:'",
    "    timeElapsed QLabel",
    "    horizontalSpacer_7 spacer",
    "    label_7 QLabel 'Time remaining: '",
    "    timeRemain QLabel",
    "    horizontalSpacer_8 spacer",
};

QString describeWidget(QWidget *widget)
{
    QString line = widget->objectName() + QLatin1Char(' ') + QLatin1String(widget->metaObject()->className());
    const auto quoted = [](const QString &text) { return QStringLiteral(" '%1'").arg(text); };
    if (auto *label = qobject_cast<QLabel *>(widget)) {
        if (!label->text().isEmpty())
            line += quoted(label->text());
        const QPixmap logo = label->pixmap(Qt::ReturnByValue);
        if (!logo.isNull())
            line += QStringLiteral(" logo %1x%2").arg(logo.width()).arg(logo.height());
        if (label->alignment() == Qt::AlignCenter)
            line += QStringLiteral(" centre");
        if (label->alignment() == (Qt::AlignRight | Qt::AlignVCenter))
            line += QStringLiteral(" right");
    } else if (auto *edit = qobject_cast<QLineEdit *>(widget)) {
        if (!edit->placeholderText().isEmpty())
            line += QStringLiteral(" placeholder") + quoted(edit->placeholderText());
        if (!edit->text().isEmpty())
            line += quoted(edit->text());
    } else if (auto *button = qobject_cast<QPushButton *>(widget)) {
        line += quoted(button->text());
    } else if (auto *bar = qobject_cast<QProgressBar *>(widget)) {
        line += QStringLiteral(" %1..%2 at %3").arg(bar->minimum()).arg(bar->maximum()).arg(bar->value());
    }
    if (!widget->isEnabled())
        line += QStringLiteral(" disabled");
    if (widget->font().pointSize() != QApplication::font(widget).pointSize())
        line += QStringLiteral(" %1pt").arg(widget->font().pointSize());
    return line;
}

void describeItem(QLayoutItem *item, const QMap<QLayoutItem *, QString> &spacers, const QString &indent,
                  QStringList &tree)
{
    if (QWidget *widget = item->widget())
        tree << indent + describeWidget(widget);
    else if (item->spacerItem())
        tree << indent + spacers.value(item, QStringLiteral("unnamed")) + QStringLiteral(" spacer");
    if (QLayout *layout = item->layout()) {
        tree << indent + layout->objectName() + QLatin1Char(' ') +
                    QLatin1String(layout->metaObject()->className());
        const QString inner = indent + QLatin1Char(' ');
        if (auto *form = qobject_cast<QFormLayout *>(layout)) {
            for (int row = 0; row < form->rowCount(); ++row)
                for (auto role : {QFormLayout::LabelRole, QFormLayout::FieldRole, QFormLayout::SpanningRole})
                    if (QLayoutItem *child = form->itemAt(row, role))
                        describeItem(child, spacers,
                                     inner + QStringLiteral("%1%2 ").arg(row).arg("LFS"[role]), tree);
        } else {
            for (int i = 0; i < layout->count(); ++i)
                describeItem(layout->itemAt(i), spacers, inner, tree);
        }
    }
}

QStringList describeTree(const Ui::MainWindow &ui)
{
    // Spacers have no object; the form names them only through its members.
    const QMap<QLayoutItem *, QString> spacers{
        {ui.verticalSpacer, "verticalSpacer"},         {ui.verticalSpacer_2, "verticalSpacer_2"},
        {ui.verticalSpacer_3, "verticalSpacer_3"},     {ui.verticalSpacer_4, "verticalSpacer_4"},
        {ui.horizontalSpacer, "horizontalSpacer"},     {ui.horizontalSpacer_2, "horizontalSpacer_2"},
        {ui.horizontalSpacer_3, "horizontalSpacer_3"}, {ui.horizontalSpacer_4, "horizontalSpacer_4"},
        {ui.horizontalSpacer_5, "horizontalSpacer_5"}, {ui.horizontalSpacer_6, "horizontalSpacer_6"},
        {ui.horizontalSpacer_7, "horizontalSpacer_7"}, {ui.horizontalSpacer_8, "horizontalSpacer_8"},
    };
    QStringList tree{describeWidget(ui.centralWidget)};
    if (QLayout *layout = ui.centralWidget->layout())
        describeItem(layout, spacers, QStringLiteral(" "), tree);
    return tree;
}

} // namespace

class MainWindowFormTest : public QObject
{
    Q_OBJECT

private slots:
    void tree_data();
    void tree();
    void window();
    void logo();
};

void MainWindowFormTest::tree_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("line");
    for (int i = 0; i < expectedTree.size(); ++i)
        QTest::newRow(qPrintable(expectedTree.at(i).simplified().section(QLatin1Char(' '), 0, 1)))
            << i << expectedTree.at(i);
    QTest::newRow("nothing more") << int(expectedTree.size()) << QString();
}

void MainWindowFormTest::tree()
{
    QFETCH(int, index);
    QFETCH(QString, line);
    QMainWindow window;
    Ui::MainWindow ui;
    ui.setupUi(&window);
    QCOMPARE(describeTree(ui).value(index), line);
}

void MainWindowFormTest::window()
{
    QMainWindow window;
    Ui::MainWindow ui;
    ui.setupUi(&window);
    // The form object is nothing but its pointers: the tree's members and the window's three bars.
    QCOMPARE(sizeof(Ui::MainWindow), (expectedTree.size() + 3) * sizeof(void *));
    QCOMPARE(window.objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(window.windowTitle(), QStringLiteral("ZARN Update Utility"));
    QCOMPARE(window.sizePolicy(), QSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed));
    QCOMPARE(window.centralWidget(), ui.centralWidget);
    QCOMPARE(window.menuBar(), ui.menuBar);
    QCOMPARE(ui.menuBar->geometry(), QRect(0, 0, 614, 25));
    QCOMPARE(window.toolBarArea(ui.mainToolBar), Qt::TopToolBarArea);
    QCOMPARE(window.statusBar(), ui.statusBar);
    // The content fits: showing it does not stretch the window.
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.size(), windowSize);
}

void MainWindowFormTest::logo()
{
    QCOMPARE(QDir(QStringLiteral(":/images/images")).entryList(), QStringList{QStringLiteral("ZARN.png")});
    QFile file(QString::fromLatin1(logoPath));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray png = file.readAll();
    QVERIFY(png.startsWith("\x89PNG\r\n\x1a\n"));
    // IHDR: width, height, 8 bits per channel, RGB with alpha, not interlaced.
    QCOMPARE(png.mid(12, 17).toHex(), QByteArray("49484452000001f40000005e0806000000"));

    QMainWindow window;
    Ui::MainWindow ui;
    ui.setupUi(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // Painted over transparency, the label's pixels are the logo's own, unscaled.
    QLabel *label = ui.label;
    QImage painted(label->size(), QImage::Format_ARGB32_Premultiplied);
    painted.fill(Qt::transparent);
    label->render(&painted, QPoint(), QRegion(), QWidget::DrawChildren);
    const QRect where =
        QStyle::alignedRect(label->layoutDirection(), label->alignment(), logoSize, label->contentsRect());
    const QImage logo(QString::fromLatin1(logoPath));
    QVERIFY(logo.hasAlphaChannel());
    QCOMPARE(painted.copy(where), logo.convertToFormat(QImage::Format_ARGB32_Premultiplied));
}

QTEST_MAIN(MainWindowFormTest)
#include "tst_mainwindowform.moc"
