// A shape record; the circle sets keep their unit-circle template in one.
#pragma once

struct DataNodes {
    DataNodes() = default;
    ~DataNodes();
    DataNodes(const DataNodes&) = delete;
    DataNodes& operator=(const DataNodes&) = delete;

    int dataType = -1;
    int index = -1;
    float* triangulateData = nullptr; // owned
    float* lineloopData = nullptr;    // owned, (x, y) pairs
    int cx = 0, cy = 0, cz = 0;
    int r = 0, g = 0, b = 0;
    int datasize = 0;
    unsigned int vboOffset = 0, colOffset = 0;
    int radius = 0;
    DataNodes* prev = nullptr;
    DataNodes* next = nullptr;
};
