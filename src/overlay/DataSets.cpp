#include "overlay/DataSets.h"

DataNodes::~DataNodes()
{
    delete[] triangulateData;
    delete[] lineloopData;
    triangulateData = nullptr;
    lineloopData = nullptr;
}
