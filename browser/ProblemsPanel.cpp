#include "browser/ProblemsPanel.h"

#include <QHeaderView>
#include <QTreeWidget>

#include "shell/Text.h"

namespace tarn::browser {

using shell::Q;

CProblemsPanel::CProblemsPanel(QWidget* parent) : QDockWidget("Engine Problems", parent) {
  setObjectName("problemsDock");
  m_list = new QTreeWidget(this);
  m_list->setObjectName("problemsList");
  m_list->setRootIsDecorated(false);
  m_list->setAlternatingRowColors(true);
  m_list->setHeaderLabels({"File", "Entry", "Rule", "Engine", "Problem"});
  m_list->header()->setStretchLastSection(true);
  setWidget(m_list);
}

void CProblemsPanel::SetProblems(const std::vector<EngineProblem>& problems) {
  m_list->clear();
  QList<QTreeWidgetItem*> items;
  for (const EngineProblem& p : problems) {
    auto* item = new QTreeWidgetItem({Q(p.file), Q(p.entry), Q(p.rule), Q(p.engine), Q(p.message)});
    item->setToolTip(0, Q(p.file));
    item->setToolTip(4, Q(p.message));
    items << item;
  }
  m_list->addTopLevelItems(items);
  for (int c = 0; c < 4; ++c) m_list->resizeColumnToContents(c);
}

}  // namespace tarn::browser
