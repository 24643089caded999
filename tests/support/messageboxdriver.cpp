#include "messageboxdriver.h"

#include <QAbstractButton>
#include <QPushButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QTest>

MessageBoxDriver::MessageBoxDriver(QObject *parent)
    : QObject(parent)
{
    // Runs inside the nested event loop of a modal box as well.
    timer.setInterval(2);
    connect(&timer, &QTimer::timeout, this, &MessageBoxDriver::poll);
    timer.start();
}

void MessageBoxDriver::answerNext(QMessageBox::StandardButton answer)
{
    answers.append(answer);
}

QStringList MessageBoxDriver::texts() const
{
    QStringList result;
    for (const Box &box : recorded)
        result.append(box.text);
    return result;
}

void MessageBoxDriver::clear()
{
    recorded.clear();
    answers.clear();
}

bool MessageBoxDriver::waitForBoxes(int wanted, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (recorded.size() < wanted && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return recorded.size() >= wanted;
}

void MessageBoxDriver::poll()
{
    const QWidgetList widgets = QApplication::topLevelWidgets();
    for (QWidget *widget : widgets) {
        auto *box = qobject_cast<QMessageBox *>(widget);
        if (!box || !box->isVisible() || handled.contains(box))
            continue;
        handled.append(box);
        connect(box, &QObject::destroyed, this, [this, box] { handled.removeAll(box); });
        answer(box);
        // Answering may have run a nested loop; the list of widgets is stale.
        return;
    }
}

void MessageBoxDriver::answer(QMessageBox *box)
{
    Box seen;
    seen.title = box->windowTitle();
    seen.text = box->text();
    seen.informativeText = box->informativeText();
    seen.detailedText = box->detailedText();
    seen.icon = box->icon();
    seen.buttons = box->standardButtons();
    seen.defaultButton = box->standardButton(box->defaultButton());
    seen.hasParent = box->parentWidget() != nullptr;
    recorded.append(seen);

    QMessageBox::StandardButton choice;
    if (!answers.isEmpty())
        choice = answers.takeFirst();
    else if (seen.defaultButton != QMessageBox::NoButton)
        choice = seen.defaultButton;
    else if (seen.buttons & QMessageBox::Ok)
        choice = QMessageBox::Ok;
    else
        choice = Escape;

    if (choice == Escape) {
        QTest::keyClick(box, Qt::Key_Escape);
        return;
    }
    if (QAbstractButton *button = box->button(choice))
        button->click();
    else
        QTest::keyClick(box, Qt::Key_Escape);
}
