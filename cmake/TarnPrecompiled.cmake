# Precompiled headers for the units that spend most of their compile time parsing the same
# large headers: Qt's widgets in the window's folders and its tests (a dialog took 11-17 s,
# nearly all of it in Qt's headers), and nlohmann-json where glTF and --json are written.
# Only headers that almost every unit of such a target includes anyway go in, so a unit
# compiles the same with them or without (CMAKE_DISABLE_PRECOMPILE_HEADERS turns them off).
set(TARN_QT_PRECOMPILED
  <QApplication> <QCheckBox> <QComboBox> <QDialog> <QDialogButtonBox> <QFileDialog> <QHBoxLayout>
  <QLabel> <QLineEdit> <QMenu> <QPainter> <QPushButton> <QStatusBar> <QString> <QTimer>
  <QVBoxLayout> <QWidget> <functional> <memory> <string> <vector>)

function(tarn_precompile_qt target)
  target_precompile_headers(${target} PRIVATE ${TARN_QT_PRECOMPILED})
endfunction()

function(tarn_precompile_json target)
  target_precompile_headers(${target} PRIVATE <nlohmann/json.hpp> <string> <vector>)
endfunction()
