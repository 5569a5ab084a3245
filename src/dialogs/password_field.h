#pragma once

class QCheckBox;
class QLineEdit;
class QWidget;
class UiStrings;

// Masks a password field and answers the "Show" check box that reveals it while checked; the
// caller lays the box out beside the field. Both belong to `parent`.
QCheckBox* maskPasswordField(QLineEdit& field, const UiStrings& strings, QWidget* parent);
