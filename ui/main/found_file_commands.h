// What the user does with the found files the views show, whichever view he
// works in: open a picture in the preview or a clip in the desktop's player,
// save, open the save folder, show the hexadecimal dump. The list and the
// thumbnail grid ask for a file to be opened and for the context menu; the
// main window hands those requests here.
// "The first selected file" is the topmost selected row.
#pragma once

#include <QObject>
#include <QPoint>
#include <functional>
#include <string>

#include "finder/del_file_info.h"

class QAction;
class QItemSelectionModel;
class QMenu;
class QWidget;

namespace veld {

class SearchController;

class FoundFileCommands : public QObject {
    Q_OBJECT
public:
    // shown: the views' selection over the rows they show; window: the
    // window the dialogs belong to.
    FoundFileCommands(SearchController& controller, QItemSelectionModel* shown, QWidget* window);

    // The context menu's items: "openFoundFile", "saveShownFiles",
    // "openSaveFolder", "dumpFoundFile". Each runs its command on the next
    // turn of the event loop, once the menu that triggered it has closed.
    QAction* action(const char* name) const;

    // Builds the context menu with its items enabled as the selection allows.
    QMenu* contextMenu(QWidget* parent);
    // Shows the context menu over a view at a global point; it deletes itself
    // when it closes.
    void popUpContextMenu(QWidget* view, const QPoint& global);

    // Opens a row's picture in the preview window; the arrow keys there page
    // through the pictures in the views' order, and the views' current file
    // follows. A clip is copied into the work folder and opened with the
    // desktop's player. Other files have no viewer.
    void openRow(int row);
    // Shows a row's file as a hexadecimal dump.
    void dumpRow(int row);
    void openSaveFolder();
    // The save dialog over the shown files.
    void save();

private:
    QAction* addAction(const char* name, const QString& text, std::function<void()> command);
    int firstSelectedRow() const;
    // The record written into the work folder: its path, or "" after an
    // error box that starts with failure.
    std::string extractToWorkFolder(const DelFileInfo& record, const char* failure);
    void playClip(const DelFileInfo& record);
    // The preview picture of a row and its caption; false when the row is
    // no picture or its data does not show.
    bool loadPicture(int row, QImage* picture, QString* caption);

    SearchController& controller_;
    QItemSelectionModel* shown_;
    QWidget* window_;
};

}  // namespace veld
