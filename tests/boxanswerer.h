#pragma once

#include <QtWidgets>

#include <functional>
#include <tuple>

// Answers message boxes as they open, in order, and records what each showed: a click on a caption
// or a key to the focused widget; a box left unanswered is escaped and counted as unexpected.
class BoxAnswerer : public QObject
{
    Q_OBJECT

public:
    struct Box
    {
        QString title, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QStringList captions, objectNames; // in the box's button order
        QString defaultCaption;
        Qt::WindowModality modality = Qt::NonModal;
    };

    BoxAnswerer() { qApp->installEventFilter(this); }

    void click(const QString& caption, std::function<void()> before = {})
    {
        m_answers.append({caption, 0, std::move(before)});
    }
    void press(int key, std::function<void()> before = {})
    {
        m_answers.append({{}, key, std::move(before)});
    }
    bool eventFilter(QObject* watched, QEvent* event) override;

    QList<Box> boxes;
    int unexpected = 0;

private:
    // A caption to click, or else a key to press, and what to do first.
    using Answer = std::tuple<QString, int, std::function<void()>>;
    QList<Answer> m_answers;
};
