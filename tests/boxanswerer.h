#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QStringList>

#include <functional>

// Answers message boxes as they open, in order, and records what each one showed. An answer is
// a click on the button with a given caption or a key sent to the box's focused widget; a box
// for which no answer is left is dismissed with Escape and counted as unexpected.
class BoxAnswerer : public QObject
{
    Q_OBJECT

public:
    struct Box
    {
        QString title;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QStringList captions;    // in the box's button order
        QStringList objectNames; // likewise
        QString defaultCaption;
        Qt::WindowModality modality = Qt::NonModal;
    };

    BoxAnswerer();
    ~BoxAnswerer() override;

    void click(const QString& caption, std::function<void()> before = {});
    void press(int key, std::function<void()> before = {});

    QList<Box> boxes;
    int unexpected = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Answer
    {
        QString caption;
        int key = 0;
        std::function<void()> before;
    };

    void answer(QMessageBox* box);

    QList<Answer> m_answers;
};
