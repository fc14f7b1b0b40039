namespace keyloft {}
