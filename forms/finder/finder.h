#pragma once

#include <QMainWindow>
#include <QString>

namespace keyloft {

class SettingsStore;
class MessageBoxes;

// The main window: the settings area as a tree beside the selected section's settings.
class Finder : public QMainWindow {
    Q_OBJECT

public:
    Finder(SettingsStore& store, MessageBoxes& boxes, const QString& computerName,
           const QString& userName, QWidget* parent = nullptr);

private:
    SettingsStore& store_;
    MessageBoxes& boxes_;
    QString rootText_;
};

} // namespace keyloft
