#!/usr/bin/perl
use strict;
use warnings;
