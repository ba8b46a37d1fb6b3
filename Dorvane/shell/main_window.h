// The main window `mainf`: title, resolver version, the active-connections
// grid, links to the product's pages and the close button. Its close box
// and btnClose only hide it; a right click on it pops up the tray menu.
#pragma once

#include <QSize>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

class QLabel;
class QTableWidget;

namespace dorvane {

// The product's addresses: web site, help page, contact and newsletter.
inline constexpr const char* kWebSite = "https://dorvane.example/";
inline constexpr const char* kHelpPage = "https://dorvane.example/aide/";
inline constexpr const char* kContactMail = "mailto:contact@dorvane.example";
inline constexpr const char* kNewsletter = "https://dorvane.example/lettre/";

// The window's size when it first opens: room for the grid's addresses.
inline constexpr QSize kMainWindowSize{900, 340};

class MainWindow : public QWidget {
 public:
  MainWindow();

  // Asked when the window is closed; true cancels the close and hides the
  // window. `from_close_box` tells the user's own close from the program's.
  std::function<bool(bool from_close_box)> query_unload;
  // Pops up the tray menu at a screen position.
  std::function<void(const QPoint&)> popup_menu;
  // Whether the window may hide (a tray icon brings it back); otherwise it
  // only minimises. Empty: it minimises.
  std::function<bool()> can_hide;
  // Opens an address with the system's program for it.
  std::function<void(const std::string& url)> open_url;

  QLabel& Titre() { return *title_; }
  QLabel& lblMxfinderVer() { return *mxfinder_; }
  QTableWidget& ActiveCnx() { return *grid_; }

  // Shows the window (raised) or hides it.
  void ShowMain(bool visible);
  // Hides the window (minimises it while no tray icon can bring it back).
  void PutAway();
  // Keeps the window above all others or not; it moves to (0, 0).
  void SetTopmost(bool topmost);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  QLabel* AddLink(const char* name, const char* caption, const char* url);

  QLabel* title_;
  QLabel* mxfinder_;
  QTableWidget* grid_;
  std::vector<QLabel*> links_;
};

}  // namespace dorvane
