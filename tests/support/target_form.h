#pragma once

// The targets' form of line fields: Tab goes to the next field, Enter sends
// the form and empties it for the next row. Its text is the rows sent, one a
// line, fields between '|'.

#include <QLineEdit>
#include <QVBoxLayout>
#include <QWidget>

#include <functional>
#include <vector>

namespace quillet::target {

class Form final : public QWidget {
public:
    Form(int fields, std::function<void(const QString& sent)> onSent) : onSent_(std::move(onSent)) {
        auto* layout = new QVBoxLayout(this);
        for (int i = 0; i < fields; ++i) {
            fields_.push_back(new QLineEdit(this));
            layout->addWidget(fields_.back());
            connect(fields_.back(), &QLineEdit::returnPressed, this, [this] { send(); });
        }
        setFocusProxy(fields_.front());
    }

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
    std::vector<QLineEdit*> fields_;  // children of this
    QString sent_;
};

}  // namespace quillet::target
