#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// The About box: the program's picture, the maker's details with this year's copyright,
// and a link to the maker's web page.
class Tabout : public QDialog {
    Q_OBJECT
public:
    explicit Tabout(QWidget* parent = nullptr);

    QLabel* Image1;
    QLabel* label_product;
    QLabel* label_version;
    QLabel* label_copyright;
    QLabel* link_homepage;
    QPushButton* Button1;

    bool eventFilter(QObject* watched, QEvent* event) override;

public slots:
    void Button1Click();
    void link_homepageClick();

protected:
    // The year is filled in on every showing, so a program left running over New Year's
    // Eve shows the new one.
    void showEvent(QShowEvent* event) override;
};
