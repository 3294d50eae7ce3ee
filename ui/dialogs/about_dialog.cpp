#include "ui/dialogs/about_dialog.h"

#include <QDesktopServices>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>

#include "ui/common/help.h"
#include "ui/common/icons.h"

namespace tessara {

CAboutDialog::CAboutDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About Tessara"));
  auto* icon = new QLabel(this);
  icon->setPixmap(AppIcon().pixmap(48, 48));
  auto* text = new QLabel(QString::fromUtf8(kVersionText), this);
  text->setObjectName(QStringLiteral("versionText"));
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("okButton"));
  ok->setDefault(true);
  auto* website = new QPushButton(QStringLiteral("Tessara website"), this);
  website->setObjectName(QStringLiteral("websiteButton"));
  auto* layout = new QGridLayout(this);
  layout->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
  layout->addWidget(text, 0, 1);
  layout->addWidget(ok, 0, 2);
  layout->addWidget(website, 1, 2);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(website, &QPushButton::clicked, this, &CAboutDialog::OnWebsite);
}

void CAboutDialog::OnWebsite() {
  // The program's own pages: the help page that ships with it.
  const QString page = HelpPagePath();
  if (!page.isEmpty()) QDesktopServices::openUrl(QUrl::fromLocalFile(page));
}

}  // namespace tessara
