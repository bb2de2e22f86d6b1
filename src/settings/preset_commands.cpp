#include "window/frmMain1.h"

void frmMain1::SaveOptionSet(const QString&) { }

void frmMain1::LoadOptionSet(const QString&) { }

void frmMain1::m_save_1_Click(int) { }

void frmMain1::m_read_1_Click(int) { }

void frmMain1::m_save_2_Click() { }

void frmMain1::m_read_2_Click() { }
