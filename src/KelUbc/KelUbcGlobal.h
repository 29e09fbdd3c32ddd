#ifndef KELUBCGLOBAL_H
#define KELUBCGLOBAL_H

#include <QtCore/qglobal.h>

#if defined(KELUBC_LIBRARY)
#  define KELUBC_EXPORT Q_DECL_EXPORT
#else
#  define KELUBC_EXPORT Q_DECL_IMPORT
#endif

#endif // KELUBCGLOBAL_H
