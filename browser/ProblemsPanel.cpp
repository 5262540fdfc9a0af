#include "browser/ProblemsPanel.h"

#include <QHeaderView>
#include <QTreeWidget>

#include "dialogs/Text.h"

namespace tarn::browser {

using dialogs::Q;

CProblemsPanel::CProblemsPanel(QWidget* parent) : QDockWidget("Engine Problems", parent) {
  setObjectName("problemsDock");
  m_list = new QTreeWidget(this);
  m_list->setObjectName("problemsList");
  m_list->setRootIsDecorated(false);
  m_list->setAlternatingRowColors(true);
  m_list->setHeaderLabels({"File", "Entry", "Rule", "Engine", "Problem"});
  m_list->header()->setStretchLastSection(true);
  // A long message is read whole in its row rather than cut at the panel's edge.
  m_list->setWordWrap(true);
  m_list->setUniformRowHeights(false);
  m_list->setTextElideMode(Qt::ElideNone);
  connect(m_list, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
    if (item) emit entryWanted(item->text(0), item->text(1));
  });
  setWidget(m_list);
}

void CProblemsPanel::SetProblems(const std::vector<EngineProblem>& problems) {
  m_list->clear();
  QList<QTreeWidgetItem*> items;
  for (const EngineProblem& p : problems) {
    auto* item = new QTreeWidgetItem({Q(p.file), Q(p.entry), Q(p.rule), Q(p.engine), Q(p.message)});
    item->setToolTip(0, Q(p.file));
    item->setToolTip(1, Q(p.entry));
    item->setToolTip(4, Q(p.message));
    items << item;
  }
  m_list->addTopLevelItems(items);
  for (int c = 0; c < 4; ++c) m_list->resizeColumnToContents(c);
}

}  // namespace tarn::browser
