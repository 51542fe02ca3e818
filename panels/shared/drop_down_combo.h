// A combo box that tells when its list is about to drop down and when it has closed, so a
// handler can refill the list just before the operator sees it.
#pragma once

#include <QComboBox>

namespace ulvarin {

class DropDownCombo : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;

    void showPopup() override {
        emit dropDown();
        QComboBox::showPopup();
    }
    void hidePopup() override {
        QComboBox::hidePopup();
        emit closeUp();
    }

signals:
    void dropDown();
    void closeUp();
};

}  // namespace ulvarin
