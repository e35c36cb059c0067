#pragma once

#include <QObject>
#include <QString>

// Extracts single named entries of one ZIP archive into a directory.
class Unzipper : public QObject
{
    Q_OBJECT

public:
    explicit Unzipper(QObject* parent = nullptr);
    // Closes an archive still open.
    ~Unzipper() override;

    // Closes an archive still open, then opens the one at path.
    bool open(QString path, QString& error);
    // Writes the entry to directory + "/" + entry; a failure removes the file it began to write.
    // The archive stays open whatever happens.
    bool unzip(QString entry, QString directory, QString& error);
    void close();

private:
    void* archive = nullptr; // minizip's unzFile
    // Read directly for members too large for the library's own counts.
    QString archivePath;
};
