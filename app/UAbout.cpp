#include "app/UAbout.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>

#include "app/uMain.h"
#include "platform/Colors.h"
#include "util/ShellActions.h"

namespace purgala {

namespace {

QLabel* MakeLabel(QWidget* parent, const QString& text, int x, int y, int width = 0,
                  int height = 0) {
    auto* label = new QLabel(text, parent);
    label->setAttribute(Qt::WA_TranslucentBackground);
    label->move(x, y);
    if (width > 0) {
        label->resize(width, height);
    } else {
        label->adjustSize();
    }
    return label;
}

void MakeLink(QLabel* label) {
    QFont font = label->font();
    font.setPixelSize(11);
    font.setUnderline(true);
    label->setFont(font);
    QPalette palette = label->palette();
    // Link blue, unless a dark theme's background would swallow it.
    palette.setColor(QPalette::WindowText,
                     ReadableTextColor(palette.color(QPalette::Window),
                                       {QColor(Qt::blue), palette.color(QPalette::Link)}));
    label->setPalette(palette);
    label->setCursor(Qt::PointingHandCursor);
}

}  // namespace

TFMAbout::TFMAbout(QWidget* owner) : QDialog(owner) {
    setWindowTitle(tr("About Purgala"));
    // A fixed border without the help button: the box is closed with its close box only.
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowCloseButtonHint);
    QFont font = this->font();
    font.setPixelSize(13);
    setFont(font);
    setFixedSize(292, 152);

    Label1 = MakeLabel(this, {}, 52, 20, 211, 16);
    QFont bold = Label1->font();
    bold.setBold(true);
    Label1->setFont(bold);
    Label2 = MakeLabel(this, tr("\u00a9 2026 the Purgala developers"), 35, 43, 248, 16);
    Label4 = MakeLabel(this, tr("Web: "), 56, 75);
    Label5 =
        MakeLabel(this, QString::fromLatin1(kHomePage.data(), kHomePage.size()), 99, 75, 164, 13);
    Label6 = MakeLabel(this, tr("Email: "), 58, 99);
    Label7 = MakeLabel(this, QString::fromLatin1(kMakerMail.data(), kMakerMail.size()), 103, 99,
                       146, 13);
    MakeLink(Label5);
    MakeLink(Label7);
    Label5->installEventFilter(this);
    Label7->installEventFilter(this);
}

void TFMAbout::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

void TFMAbout::keyPressEvent(QKeyEvent* event) {
    // The box closes with its close box or the system's close command only, not with Escape.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool TFMAbout::eventFilter(QObject* watched, QEvent* event) {
    const bool press = event->type() == QEvent::MouseButtonPress;
    if ((watched != Label5 && watched != Label7) ||
        (!press && event->type() != QEvent::MouseButtonRelease)) {
        return QDialog::eventFilter(watched, event);
    }
    auto* link = static_cast<QLabel*>(watched);
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton) {
        return QDialog::eventFilter(watched, event);
    }
    if (press) {
        pressed_ = link;
        return QDialog::eventFilter(watched, event);
    }
    // A click is a press and a release on the same link; the release of a press that wandered
    // off the link comes here too, with a position outside it.
    const bool click = pressed_ == link && link->rect().contains(mouse->position().toPoint());
    pressed_ = nullptr;
    if (click && link == Label5) {
        Label5Click();
    } else if (click) {
        Label7Click();
    }
    return QDialog::eventFilter(watched, event);
}

void TFMAbout::FormShow() {
    Label1->setText(TFMMain::kCaption);
}

void TFMAbout::Label5Click() {
    OpenHomePage();
}

void TFMAbout::Label7Click() {
    MailToMaker();
}

}  // namespace purgala
