#!/usr/bin/env bash
echo "summary: (to do)"
