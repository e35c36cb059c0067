#include "boxanswerer.h"
#include "testenvironment.h"

bool BoxAnswerer::eventFilter(QObject* watched, QEvent* event)
{
    QPointer<QMessageBox> box = qobject_cast<QMessageBox*>(watched);
    if (!box || event->type() != QEvent::Show)
        return false;
    // In the box's own event loop, once active as under a window manager, which focuses a button.
    QTimer::singleShot(0, this, [this, box] {
        runEventsUntil([&] { return !box || box->isActiveWindow(); }, 1000);
        if (!box || !box->isVisible())
            return;
        const auto [caption, key, before] = m_answers.isEmpty() ? Answer() : m_answers.takeFirst();
        Box seen{box->windowTitle(), box->text(), box->icon(), {}, {}, {}, box->windowModality()};
        QAbstractButton* chosen = nullptr;
        for (QAbstractButton* button : box->buttons()) {
            seen.captions << button->text();
            seen.objectNames << button->objectName();
            if (auto* push = qobject_cast<QPushButton*>(button); push && push->isDefault())
                seen.defaultCaption = push->text();
            chosen = button->text() == caption ? button : chosen;
        }
        boxes.append(seen);
        if (before)
            before();
        if (key != 0) {
            QTest::keyClick(box->focusWidget() ? box->focusWidget() : box.data(), Qt::Key(key));
        } else if (chosen) {
            chosen->click();
        } else {
            ++unexpected;
            QTest::keyClick(box, Qt::Key_Escape);
        }
    });
    return false;
}
