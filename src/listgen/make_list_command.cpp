#include "window/frmMain1.h"

void frmMain1::cmdMakeList1_Click() { }

bool frmMain1::MakeList() { return false; }
