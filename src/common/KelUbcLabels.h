#ifndef KELUBCLABELS_H
#define KELUBCLABELS_H

//
//  W A R N I N G
//  -------------
// Not part of the public API: shared by KelUbc and KelUbcTranslator only.
//

#include <RecordFormat/RecordLabels.h>

// The facade's private object carries the labels under this name.
using KelUbcLabels = RecordLabels;

#endif // KELUBCLABELS_H
