#include "messageboxcss.h"

#include <QAbstractButton>
#include <QDebug>
#include <QPushButton>

MessageBoxCSS::MessageBoxCSS() = default;

MessageBoxCSS::MessageBoxCSS(const QString& title, const QString& text, QMessageBox::Icon icon,
                             int button0, QString caption0, QString name0, int button1,
                             QString caption1, QString name1, int button2, QString caption2,
                             QString name2, int defaultButton, QWidget* parent, bool modal,
                             Qt::WindowFlags flags)
{
    messageBox = new QMessageBox(title, text, icon, button0, button1, button2, parent, flags);

    if (modal)
        messageBox->setWindowModality(Qt::WindowModal);

    const struct
    {
        int id;
        const QString& caption;
        const QString& name;
    } descriptions[] = {
        {button0, caption0, name0}, {button1, caption1, name1}, {button2, caption2, name2}};
    for (const auto& description : descriptions) {
        if (description.caption.isEmpty())
            continue;
        QAbstractButton* button =
            messageBox->button(static_cast<QMessageBox::StandardButton>(description.id));
        if (!button)
            continue;
        button->setText(description.caption);
        button->setObjectName(description.name.isEmpty() ? description.caption : description.name);
    }

    // Setting the sheet again makes Qt restyle the parent's descendants, the new box and its
    // freshly named buttons among them.
    if (parent)
        parent->setStyleSheet(parent->styleSheet());

    if (defaultButton != 0) {
        auto* button = qobject_cast<QPushButton*>(
            messageBox->button(static_cast<QMessageBox::StandardButton>(defaultButton)));
        if (button) {
            button->setDefault(true);
            // Where buttons take keyboard focus, the first one would otherwise get it when the
            // box opens and, being auto-default, take over Return and Enter from this one.
            button->setFocus();
        }
    }

    qDebug() << "Message displayed, title: " << title << ", text: " << text;
}

MessageBoxCSS::~MessageBoxCSS()
{
    if (messageBox)
        messageBox->deleteLater();
}

int MessageBoxCSS::exec()
{
    if (!messageBox)
        return 0;
    return messageBox->exec();
}

namespace {

const Qt::WindowFlags kBoxFlags = Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint;

} // namespace

int MessageBoxCSS::run(QMessageBox::Icon icon, QWidget* parent, const QString& title,
                       const QString& text, bool modal, int button0, const QString& caption0,
                       QString name0, int button1, const QString& caption1, QString name1,
                       int button2, const QString& caption2, QString name2, int defaultButton)
{
    MessageBoxCSS box(title, text, icon, button0, caption0, name0, button1, caption1, name1,
                      button2, caption2, name2, defaultButton, parent, modal, kBoxFlags);
    return box.exec();
}

int MessageBoxCSS::information(QWidget* parent, const QString& title, const QString& text,
                               bool modal, int button0, const QString& caption0, QString name0,
                               int button1, const QString& caption1, QString name1, int button2,
                               const QString& caption2, QString name2, int defaultButton)
{
    return run(QMessageBox::Information, parent, title, text, modal, button0, caption0, name0,
               button1, caption1, name1, button2, caption2, name2, defaultButton);
}

int MessageBoxCSS::question(QWidget* parent, const QString& title, const QString& text, bool modal,
                            int button0, const QString& caption0, QString name0, int button1,
                            const QString& caption1, QString name1, int button2,
                            const QString& caption2, QString name2, int defaultButton)
{
    return run(QMessageBox::Question, parent, title, text, modal, button0, caption0, name0, button1,
               caption1, name1, button2, caption2, name2, defaultButton);
}

int MessageBoxCSS::warning(QWidget* parent, const QString& title, const QString& text, bool modal,
                           int button0, const QString& caption0, QString name0, int button1,
                           const QString& caption1, QString name1, int button2,
                           const QString& caption2, QString name2, int defaultButton)
{
    return run(QMessageBox::Warning, parent, title, text, modal, button0, caption0, name0, button1,
               caption1, name1, button2, caption2, name2, defaultButton);
}

int MessageBoxCSS::critical(QWidget* parent, const QString& title, const QString& text, bool modal,
                            int button0, const QString& caption0, QString name0, int button1,
                            const QString& caption1, QString name1, int button2,
                            const QString& caption2, QString name2, int defaultButton)
{
    return run(QMessageBox::Critical, parent, title, text, modal, button0, caption0, name0, button1,
               caption1, name1, button2, caption2, name2, defaultButton);
}
