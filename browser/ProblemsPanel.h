// What the engine would refuse or misread in the open game folders (the problems of
// `tarn-pak check --engine`), in a dock below the list: file, entry, rule, engine, problem.
#pragma once

#include <QDockWidget>
#include <vector>

#include "game/EngineChecks.h"

class QTreeWidget;

namespace tarn::browser {

class CProblemsPanel : public QDockWidget {
  Q_OBJECT
 public:
  explicit CProblemsPanel(QWidget* parent = nullptr);
  void SetProblems(const std::vector<EngineProblem>& problems);
  QTreeWidget* List() const { return m_list; }

 signals:
  // A problem was double-clicked (or Enter pressed on it): the entry it names in file.
  void entryWanted(const QString& file, const QString& entry);

 private:
  QTreeWidget* m_list;
};

}  // namespace tarn::browser
