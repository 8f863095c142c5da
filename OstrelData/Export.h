#ifndef OSTRELDATA_EXPORT_H
#define OSTRELDATA_EXPORT_H

#define OSTRELDATA_API __attribute__((visibility("default")))

#endif
