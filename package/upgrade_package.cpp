// implemented below
