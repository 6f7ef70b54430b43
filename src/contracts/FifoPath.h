/* The named pipe a movie export streams its frames through: the library makes
 * it and writes, the encoder it starts reads. One fixed path, so one export at
 * a time per machine. Included by C and C++. */
#ifndef QV_CONTRACTS_FIFO_PATH_H
#define QV_CONTRACTS_FIFO_PATH_H

#define QV_FIFO_PATH "/tmp/fifoChannel"

#endif
