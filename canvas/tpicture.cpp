// implemented on the canvas branch
