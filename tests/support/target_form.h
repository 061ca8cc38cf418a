#pragma once

// A form of line fields for the test targets: Tab goes to the next field,
// Enter in any field sends the form, which empties it for the next row.
// Rows sent so far read one a line, their fields between '|'.

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QVBoxLayout>
#include <QWidget>

#include <functional>
#include <vector>

namespace quillet::target {

// Pastes plain text only, as the targets' text fields do.
class FormField final : public QLineEdit {
protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->matches(QKeySequence::Paste)) {
            insert(QGuiApplication::clipboard()->text());
            return;
        }
        QLineEdit::keyPressEvent(event);
    }
};

class Form final : public QWidget {
public:
    Form(int fields, std::function<void(const QString& sent)> onSent) : onSent_(std::move(onSent)) {
        auto* layout = new QVBoxLayout(this);
        for (int i = 0; i < fields; ++i) {
            auto* field = new FormField;
            layout->addWidget(field);
            connect(field, &QLineEdit::returnPressed, this, [this] { send(); });
            fields_.push_back(field);
        }
        setFocusProxy(fields_.front());
    }

    const QString& sent() const { return sent_; }

private:
    void send() {
        QStringList values;
        for (QLineEdit* field : fields_) {
            values.append(field->text());
            field->clear();
        }
        sent_ += values.join(u'|') + u'\n';
        fields_.front()->setFocus();
        onSent_(sent_);
    }

    std::function<void(const QString&)> onSent_;
    std::vector<QLineEdit*> fields_;  // owned by the layout's widget, this
    QString sent_;
};

}  // namespace quillet::target
