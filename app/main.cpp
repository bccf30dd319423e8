#include "app/tresvik_app.h"

wxIMPLEMENT_APP(tresvik);
