#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QString>

// A message box whose buttons carry captions and object names of the caller's choosing, so
// that the parent window's style sheet can style them. Every box is logged when it is made.
class MessageBoxCSS
{
public:
    MessageBoxCSS();
    MessageBoxCSS(const QString& title, const QString& text, QMessageBox::Icon icon, int button0,
                  QString caption0, QString name0, int button1, QString caption1, QString name1,
                  int button2, QString caption2, QString name2, int defaultButton, QWidget* parent,
                  bool modal, Qt::WindowFlags flags);
    ~MessageBoxCSS();

    // Shows the box modally; the standard button that closed it, or 0 without a box.
    int exec();

    static int information(QWidget* parent, const QString& title, const QString& text, bool modal,
                           int button0, const QString& caption0, QString name0 = QString(),
                           int button1 = 0, const QString& caption1 = QString(),
                           QString name1 = QString(), int button2 = 0,
                           const QString& caption2 = QString(), QString name2 = QString(),
                           int defaultButton = 0);
    static int question(QWidget* parent, const QString& title, const QString& text, bool modal,
                        int button0, const QString& caption0, QString name0 = QString(),
                        int button1 = 0, const QString& caption1 = QString(),
                        QString name1 = QString(), int button2 = 0,
                        const QString& caption2 = QString(), QString name2 = QString(),
                        int defaultButton = 0);
    static int warning(QWidget* parent, const QString& title, const QString& text, bool modal,
                       int button0, const QString& caption0, QString name0 = QString(),
                       int button1 = 0, const QString& caption1 = QString(),
                       QString name1 = QString(), int button2 = 0,
                       const QString& caption2 = QString(), QString name2 = QString(),
                       int defaultButton = 0);
    static int critical(QWidget* parent, const QString& title, const QString& text, bool modal,
                        int button0, const QString& caption0, QString name0 = QString(),
                        int button1 = 0, const QString& caption1 = QString(),
                        QString name1 = QString(), int button2 = 0,
                        const QString& caption2 = QString(), QString name2 = QString(),
                        int defaultButton = 0);

private:
    Q_DISABLE_COPY(MessageBoxCSS)

    static int run(QMessageBox::Icon icon, QWidget* parent, const QString& title,
                   const QString& text, bool modal, int button0, const QString& caption0,
                   QString name0, int button1, const QString& caption1, QString name1, int button2,
                   const QString& caption2, QString name2, int defaultButton);

    // Guarded: the box is a child of the parent and goes when the parent does.
    QPointer<QMessageBox> messageBox;
};
