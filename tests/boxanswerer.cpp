#include "boxanswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

BoxAnswerer::BoxAnswerer()
{
    qApp->installEventFilter(this);
}

BoxAnswerer::~BoxAnswerer()
{
    qApp->removeEventFilter(this);
}

void BoxAnswerer::click(const QString& caption, std::function<void()> before)
{
    m_answers.append({caption, 0, std::move(before)});
}

void BoxAnswerer::press(int key, std::function<void()> before)
{
    m_answers.append({QString(), key, std::move(before)});
}

bool BoxAnswerer::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Show) {
        if (auto* box = qobject_cast<QMessageBox*>(watched)) {
            // Answer from the box's own event loop, once it runs.
            QPointer<QMessageBox> guarded(box);
            QTimer::singleShot(0, this, [this, guarded] {
                if (guarded && guarded->isVisible())
                    answer(guarded);
            });
        }
    }
    return QObject::eventFilter(watched, event);
}

void BoxAnswerer::answer(QMessageBox* box)
{
    Box seen;
    seen.title = box->windowTitle();
    seen.text = box->text();
    seen.icon = box->icon();
    seen.modality = box->windowModality();
    for (QAbstractButton* button : box->buttons()) {
        seen.captions << button->text();
        seen.objectNames << button->objectName();
        if (auto* push = qobject_cast<QPushButton*>(button); push && push->isDefault())
            seen.defaultCaption = push->text();
    }
    boxes.append(seen);

    if (m_answers.isEmpty()) {
        ++unexpected;
        QTest::keyClick(box, Qt::Key_Escape);
        return;
    }
    const Answer next = m_answers.takeFirst();
    if (next.before)
        next.before();
    if (next.key != 0) {
        QWidget* focused = box->focusWidget() ? box->focusWidget() : box;
        QTest::keyClick(focused, Qt::Key(next.key));
        return;
    }
    for (QAbstractButton* button : box->buttons()) {
        if (button->text() == next.caption) {
            button->click();
            return;
        }
    }
    ++unexpected;
    QTest::keyClick(box, Qt::Key_Escape);
}
