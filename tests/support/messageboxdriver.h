#ifndef MESSAGEBOXDRIVER_H
#define MESSAGEBOXDRIVER_H

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QTimer>

// Stands in for the user in front of message boxes: records every box that
// appears (modal or not) and answers it. Answers are taken from a queue;
// when the queue is empty the box's default answer is used (its default
// button, else OK, else its escape button).
class MessageBoxDriver : public QObject
{
    Q_OBJECT

public:
    // Answer by pressing Escape instead of a button.
    static constexpr QMessageBox::StandardButton Escape = QMessageBox::NoButton;

    struct Box
    {
        QString title;
        QString text;
        QString informativeText;
        QString detailedText;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
        bool hasParent = false;
    };

    explicit MessageBoxDriver(QObject *parent = nullptr);

    // The answers to the next boxes, in order.
    void answerNext(QMessageBox::StandardButton answer);

    QList<Box> boxes() const { return recorded; }
    QStringList texts() const;
    int count() const { return recorded.size(); }
    void clear();

    // Processes events until `count` boxes have been seen in all.
    bool waitForBoxes(int count, int timeoutMs = 5000);

private:
    void poll();
    void answer(QMessageBox *box);

    QTimer timer;
    QList<QMessageBox::StandardButton> answers;
    QList<Box> recorded;
    QList<QMessageBox *> handled;
};

#endif // MESSAGEBOXDRIVER_H
