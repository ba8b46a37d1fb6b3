#include "shell/main_window.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "base/runtime_error.h"
#include "log/guard.h"

namespace dorvane {
namespace {

// A hyperlink label: blue, underlined while the mouse is over it.
class LinkLabel : public QLabel {
 public:
  LinkLabel(const QString& caption, std::function<void()> on_click, QWidget* parent)
      : QLabel(caption, parent), on_click_(std::move(on_click)) {
    setCursor(Qt::PointingHandCursor);
    SetHot(false);
  }
  void SetHot(bool hot) {
    setStyleSheet(hot ? "color: #0000ff; text-decoration: underline;" : "color: #0000ff; text-decoration: none;");
  }

 protected:
  void enterEvent(QEnterEvent*) override { SetHot(true); }
  void leaveEvent(QEvent*) override { SetHot(false); }
  void mouseReleaseEvent(QMouseEvent*) override {
    Guard("FRM:MAIN[lblLink_Click]", [this] {
      if (on_click_) on_click_();
    });
  }

 private:
  std::function<void()> on_click_;
};

}  // namespace

MainWindow::MainWindow() {
  setObjectName("mainf");
  setMouseTracking(true);
  resize(kMainWindowSize.width(), kMainWindowSize.height());
  auto* layout = new QVBoxLayout(this);
  title_ = new QLabel(this);
  title_->setObjectName("Titre");
  QFont big = title_->font();
  big.setBold(true);
  big.setPointSizeF(big.pointSizeF() * 1.4);
  title_->setFont(big);
  mxfinder_ = new QLabel(this);
  mxfinder_->setObjectName("lblMxfinderVer");
  grid_ = new QTableWidget(this);
  grid_->setObjectName("ActiveCnx");
  layout->addWidget(title_);
  layout->addWidget(mxfinder_);
  layout->addWidget(grid_, 1);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(AddLink("lblWebSite", "Site web", kWebSite));
  bottom->addWidget(AddLink("lblEmail", "E-mail", kContactMail));
  bottom->addWidget(AddLink("lblNewsletter", "Lettre d'information", kNewsletter));
  bottom->addStretch(1);
  auto* close = new QPushButton(QStringLiteral("Fermer"), this);
  close->setObjectName("btnClose");
  connect(close, &QPushButton::clicked, this, [this] { Guard("FRM:MAIN[btnClose_Click]", [this] { PutAway(); }); });
  bottom->addWidget(close);
  layout->addLayout(bottom);
}

QLabel* MainWindow::AddLink(const char* name, const char* caption, const char* url) {
  std::string target = url;
  auto* link = new LinkLabel(QString::fromUtf8(caption), [this, target] {
    if (open_url) open_url(target);
  }, this);
  link->setObjectName(name);
  links_.push_back(link);
  return link;
}

void MainWindow::ShowMain(bool visible) {
  setVisible(visible);
  if (!visible) return;
  showNormal();
  raise();
  activateWindow();
}

void MainWindow::SetTopmost(bool topmost) {
  bool shown = isVisible();
  setWindowFlag(Qt::WindowStaysOnTopHint, topmost);  // hides the window
  move(0, 0);
  if (shown) show();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  bool cancel = Guard("FRM:MAIN[Form_QueryUnload]", [&] {
    return query_unload ? query_unload(event->spontaneous()) : true;
  });
  if (!cancel) return event->accept();
  event->ignore();
  PutAway();
}

// Hidden, the window comes back from the tray; while there is no tray icon
// it is only minimised, so the user can always reach it.
void MainWindow::PutAway() {
  if (can_hide && can_hide()) hide();
  else showMinimized();
}

// The platform's context-menu event comes once per right click.
void MainWindow::contextMenuEvent(QContextMenuEvent* event) {
  Guard("FRM:MAIN[Form_MouseUp]", [&] {
    if (popup_menu) popup_menu(event->globalPos());
  });
}

// Light grey horizontal rules behind the controls.
void MainWindow::paintEvent(QPaintEvent* event) {
  QWidget::paintEvent(event);
  QPainter painter(this);
  painter.setPen(QColor(0xE0, 0xE0, 0xE0));
  for (int y = 0; y < height(); y += 4) painter.drawLine(0, y, width(), y);
}

void MainWindow::mouseMoveEvent(QMouseEvent* event) {
  for (QLabel* link : links_) static_cast<LinkLabel*>(link)->SetHot(false);
  QWidget::mouseMoveEvent(event);
}

}  // namespace dorvane
