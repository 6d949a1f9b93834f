#pragma once
// The About box: the program's name and version, a notice, and links to the makers' home page
// and mail address.

#include <QDialog>

class QLabel;

namespace purgala {

class TFMAbout : public QDialog {
    Q_OBJECT
public:
    explicit TFMAbout(QWidget* owner);

    QLabel* Label1;  // name and version, set on every show
    QLabel* Label2;  // the makers' notice
    QLabel* Label4;  // "Web: "
    QLabel* Label5;  // the home page, a link
    QLabel* Label6;  // "Email: "
    QLabel* Label7;  // the mail address, a link

    void FormShow();
    void Label5Click();
    void Label7Click();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* pressed_ = nullptr;  // the link the left button went down on
};

}  // namespace purgala
