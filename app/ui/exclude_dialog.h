// The exclude dialog ("Exclude from Adding"): the patterns an add passes over, edited as a list, saved to and
// loaded from plain text files (one pattern a line).
#pragma once

#include <QDialog>
#include <string>
#include <vector>

class QLineEdit;
class QListWidget;

namespace varnok::ui {

class ExcludeDialog : public QDialog {
    Q_OBJECT
  public:
    ExcludeDialog(const std::vector<std::string>& patterns, QWidget* parent);
    std::vector<std::string> Patterns() const;
    // "+": the field's text unless the list has it already (ignoring case).
    void AddPattern();
    void RemoveSelected();
    bool Save(const QString& path) const;
    bool Load(const QString& path);
    QLineEdit* Field() const { return field_; }
    QListWidget* List() const { return list_; }

  private:
    QListWidget* list_;
    QLineEdit* field_;
};

}  // namespace varnok::ui
