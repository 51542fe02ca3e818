// A combo box that tells when its list is about to drop down and when it has closed, so a
// handler can refill the list just before the operator sees it. Only a list that was shown
// closes up: Qt also hides the popup of a box that is being hidden or destroyed, and the
// handlers of a window being torn down must not run then.
#pragma once

#include <QComboBox>

namespace ulvarin {

class DropDownCombo : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;

    void showPopup() override {
        emit dropDown();
        dropped_ = true;
        QComboBox::showPopup();
    }
    void hidePopup() override {
        QComboBox::hidePopup();
        if (!dropped_) return;
        dropped_ = false;
        emit closeUp();
    }

signals:
    void dropDown();
    void closeUp();

private:
    bool dropped_ = false;
};

}  // namespace ulvarin
